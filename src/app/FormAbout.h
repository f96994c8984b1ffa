#pragma once

#include "BaseDialog.h"

// The About box: a copyright notice and "确定".
class FormAbout : public BaseDialog
{
    Q_OBJECT
public:
    explicit FormAbout(const QString& title, QWidget* parent = nullptr);
};

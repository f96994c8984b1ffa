#pragma once

#include "StyledWidget.h"

// The question page: a place in the page stack with no content of its own yet.
class FormQA : public StyledWidget
{
    Q_OBJECT
public:
    explicit FormQA(QWidget* parent = nullptr);
};

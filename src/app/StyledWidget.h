#pragma once

#include <QWidget>

// A plain widget whose background comes from the style sheet. QWidget subclasses do not draw
// their style-sheet background by themselves; this one paints the style primitive first.
class StyledWidget : public QWidget
{
    Q_OBJECT
public:
    explicit StyledWidget(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

#pragma once

#include <QSlider>

// A slider that also reports a click anywhere on it as the value under the cursor, so that a
// click jumps there instead of paging.
class Slider : public QSlider
{
    Q_OBJECT
public:
    Slider(QWidget* parent, bool horizontal);

    // The value a press at `x` stands for: the whole width maps onto minimum..maximum.
    int valueAt(int x) const;

signals:
    void mousePress(int pos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

#pragma once

#include <QSlider>

// A slider that also reports a click anywhere on it as the value under the cursor, so that a
// click jumps there instead of paging. The position slider also shows small marks (the
// bookmarks) on its groove and, while hovered, the time under the mouse.
class Slider : public QSlider
{
    Q_OBJECT
public:
    Slider(QWidget* parent, bool horizontal);

    // The value a press at `x` stands for: the whole width maps onto minimum..maximum.
    int valueAt(int x) const;
    // The x a value is drawn at, the inverse of valueAt.
    int xOf(int value) const;

    void setMarks(const QList<int>& values);
    const QList<int>& marks() const { return markValues; }
    // Hovering shows the time (whole seconds) under the mouse.
    void setTimeTips(bool on) { timeTips = on; }
    // What the hover tip says at `x`.
    QString timeTipAt(int x) const;

signals:
    void mousePress(int pos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QList<int> markValues;
    bool timeTips = false;
};

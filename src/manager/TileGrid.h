#pragma once

#include <QMargins>

class QHBoxLayout;
class QVBoxLayout;
class QWidget;

// The rows of five tiles the download manager's lists and the courseware page share: a
// container ("MainBorder", at least the main window's width) with an inner widget
// ("NavigatWidget") whose rows, 1160 pixels wide, are centred and filled from the left.
class TileGrid
{
public:
    static constexpr int perRow = 5;
    static constexpr int rowWidth = 1160;

    // `innerMargins` are the inner box's margins; `lead` the spacing before the first row.
    TileGrid(QWidget* parent, int lead, const QMargins& innerMargins);

    QWidget* container() const { return box; }
    // The inner box, for a header above the rows.
    QVBoxLayout* inner() const { return innerLayout; }
    // Places `tile` after the previous one, opening a new row every five.
    void add(QWidget* tile);
    int count() const { return tiles; }
    // After the last tile: the last row fills from the left, the rows from the top.
    void finish();

private:
    QWidget* box;
    QWidget* innerWidget;
    QVBoxLayout* innerLayout;
    QHBoxLayout* row = nullptr;
    int tiles = 0;
};

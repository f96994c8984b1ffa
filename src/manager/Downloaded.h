#pragma once

#include "TileList.h"

class QLabel;

// The downloaded list: one tile per course with at least one downloaded lesson, or the
// no-course picture.
class Downloaded : public TileList
{
    Q_OBJECT
public:
    explicit Downloaded(QWidget* parent);

    QLabel* noCourseLabel() const { return lblNoCourse; }

protected:
    QList<Entry> entries() const override;

private:
    QLabel* lblNoCourse = nullptr;
};

#pragma once

#include "TileList.h"

class QLabel;

// The downloading list: one tile per lesson in the download queue, in queue order, with its
// progress overlay, then one per failed lesson (until it is tried again or deleted), or the
// no-course picture. It reports its tile count, so "缓存中" carries it too.
class Downloading : public TileList
{
    Q_OBJECT
public:
    explicit Downloading(QWidget* parent);

    QLabel* noLessonLabel() const { return lblNoLesson; }

protected:
    QList<Entry> entries() const override;

private:
    QLabel* lblNoLesson = nullptr;
};

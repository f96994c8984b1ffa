#pragma once

#include "TileList.h"

// The downloading list: one tile per lesson in the download queue, in queue order, with its
// progress overlay. It reports its tile count, so "缓存中" carries it too.
class Downloading : public TileList
{
    Q_OBJECT
public:
    explicit Downloading(QWidget* parent);

protected:
    QList<Entry> entries() const override;
};

#pragma once

#include <QHash>
#include <QPixmap>
#include <QString>

// Course pictures scaled to the tile's picture area, each file decoded once however many
// tiles show it. A list keeps one for the length of a rebuild.
class ThumbnailCache
{
public:
    static const QSize tileSize; // 220 × 124

    // The picture of `path` at tile size; a null pixmap when the file is missing or not an
    // image.
    QPixmap picture(const QString& path);

private:
    QHash<QString, QPixmap> pictures;
};

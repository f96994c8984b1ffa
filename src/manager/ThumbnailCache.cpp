#include "ThumbnailCache.h"

#include "PictureReader.h"

#include <QFileInfo>

const QSize ThumbnailCache::tileSize(220, 124);

QPixmap ThumbnailCache::picture(const QString& path)
{
    const auto found = pictures.constFind(path);
    if (found != pictures.constEnd()) {
        return *found;
    }
    QPixmap pixmap;
    if (QFileInfo::exists(path)) {
        const QImage image = PictureReader::fromFile(path, tileSize);
        if (!image.isNull()) {
            pixmap = QPixmap::fromImage(
                image.size() == tileSize
                    ? image
                    : image.scaled(tileSize, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        }
    }
    pictures.insert(path, pixmap);
    return pixmap;
}

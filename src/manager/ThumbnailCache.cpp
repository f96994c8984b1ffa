#include "ThumbnailCache.h"

#include <QFileInfo>
#include <QImageReader>

const QSize ThumbnailCache::tileSize(220, 124);

QPixmap ThumbnailCache::picture(const QString& path)
{
    const auto found = pictures.constFind(path);
    if (found != pictures.constEnd()) {
        return *found;
    }
    QPixmap pixmap;
    if (QFileInfo::exists(path)) {
        QImageReader reader(path);
        // JPEG decodes straight to the smaller size, which is much faster than scaling after.
        reader.setScaledSize(tileSize);
        const QImage image = reader.read();
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

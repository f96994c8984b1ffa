#include "PictureReader.h"

#include <QBuffer>
#include <QDebug>
#include <QImageReader>

namespace {

QImage readBounded(QImageReader& reader, const QSize& scaled)
{
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > PictureReader::maxSide ||
        size.height() > PictureReader::maxSide) {
        qDebug() << "picture refused: it announces" << size.width() << "x" << size.height()
                 << "pixels";
        return QImage();
    }
    if (scaled.isValid()) {
        // JPEG decodes straight to the smaller size, which is much faster than scaling after.
        reader.setScaledSize(scaled);
    }
    return reader.read();
}

} // namespace

QImage PictureReader::fromData(const QByteArray& bytes, const QSize& scaled)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return readBounded(reader, scaled);
}

QImage PictureReader::fromFile(const QString& path, const QSize& scaled)
{
    QImageReader reader(path);
    return readBounded(reader, scaled);
}

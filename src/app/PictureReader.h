#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Decodes pictures from the school (avatars, course pictures) only within bounds: the size
// a picture announces in its header is checked before anything is decoded, so a small file
// that claims a huge picture costs no memory. A refused picture reads as a null image.
class PictureReader
{
public:
    // A few thousand pixels a side is plenty for an avatar or a course picture.
    static constexpr int maxSide = 4096;

    static QImage fromData(const QByteArray& bytes, const QSize& scaled = QSize());
    static QImage fromFile(const QString& path, const QSize& scaled = QSize());
};

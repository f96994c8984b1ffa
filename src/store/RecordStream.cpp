#include "RecordStream.h"

#include <QIODevice>
#include <QtEndian>

void RecordStream::readString(QDataStream& in, QString& value)
{
    value = QString();
    quint32 length = 0;
    in >> length;
    if (in.status() != QDataStream::Ok || length == 0xffffffffu) {
        return; // past the end, or a null string
    }
    if (length == 0) {
        value = QLatin1String(""); // empty, not null: the file keeps the difference
        return;
    }
    QIODevice* device = in.device();
    if ((length & 1) || !device || qint64(length) > device->bytesAvailable()) {
        in.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    QString text(int(length / 2), Qt::Uninitialized);
    if (in.readRawData(reinterpret_cast<char*>(text.data()), int(length)) != int(length)) {
        in.setStatus(QDataStream::ReadPastEnd);
        return;
    }
    ushort* units = reinterpret_cast<ushort*>(text.data());
    if (in.byteOrder() == QDataStream::BigEndian) {
        qFromBigEndian<ushort>(units, text.size(), units);
    } else {
        qFromLittleEndian<ushort>(units, text.size(), units);
    }
    value = text;
}

#include "RecordStream.h"

#include <QIODevice>
#include <QtEndian>

void RecordStream::readString(QDataStream& in, QString& value)
{
    value = QString();
    if (in.status() != QDataStream::Ok) {
        return;
    }
    QIODevice* device = in.device();
    if (device) {
        const QByteArray head = device->peek(4);
        if (head.size() < 4) {
            in.setStatus(QDataStream::ReadPastEnd);
            return;
        }
        const quint32 length = in.byteOrder() == QDataStream::BigEndian
                                   ? qFromBigEndian<quint32>(head.constData())
                                   : qFromLittleEndian<quint32>(head.constData());
        if (length != 0xffffffffu && qint64(length) > device->bytesAvailable() - 4) {
            in.setStatus(QDataStream::ReadCorruptData);
            return;
        }
    }
    in >> value;
}

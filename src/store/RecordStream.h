#pragma once

#include <QDataStream>
#include <QList>
#include <QString>

// Helpers for reading records from untrusted bytes: lengths are checked against what the
// device still holds before anything is allocated.
class RecordStream
{
public:
    // The stream version of the record file; fixed so that every build reads what another wrote.
    static constexpr QDataStream::Version version = QDataStream::Qt_5_5;

    // Reads a string whose byte length must fit in what remains; otherwise marks the stream
    // corrupt and leaves `value` null.
    static void readString(QDataStream& in, QString& value);

    // A list is a 32-bit count followed by the records.
    template <typename Record> static void writeList(QDataStream& out, const QList<Record>& list)
    {
        out << quint32(list.size());
        for (const Record& record : list) {
            out << record;
        }
    }

    // The count is not trusted: reading ends with the data, whatever it promised, and a record
    // cut short is not kept.
    template <typename Record> static void readList(QDataStream& in, QList<Record>& list)
    {
        list.clear();
        quint32 count = 0;
        in >> count;
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok && !in.atEnd(); ++i) {
            Record record;
            in >> record;
            if (in.status() != QDataStream::Ok) {
                break;
            }
            list.append(record);
        }
    }
};

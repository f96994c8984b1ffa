#pragma once

#include <QDataStream>
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
};

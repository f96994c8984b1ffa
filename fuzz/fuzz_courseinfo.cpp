// Any text as the answer of the course-download-information call: decoded, built into a
// course record with its lessons, and written to and read back from the record stream.
#include "CourseRecord.h"
#include "JsonHelper.h"
#include "RecordStream.h"
#include "URLManager.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const URLManager urls([] { return QStringLiteral("fuzz-session"); });
    const JsonNode answer =
        JsonHelper::parse(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    const CourseRecord course(answer.getObject(QStringLiteral("data")), urls);
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(RecordStream::version);
        out << course;
    }
    QDataStream in(bytes);
    in.setVersion(RecordStream::version);
    CourseRecord back;
    in >> back;
    if (back != course) {
        std::abort();
    }
    return 0;
}

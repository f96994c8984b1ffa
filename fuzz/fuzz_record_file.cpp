// Any bytes as a decrypted record file: must never crash, hang or allocate without bound.
#include "CourseStore.h"
#include "UserRecord.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    UserRecord user;
    CourseStore::deserialize(QByteArray(reinterpret_cast<const char*>(data), int(size)), user);
    return 0;
}

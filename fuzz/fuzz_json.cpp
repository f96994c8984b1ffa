// Any text as a server answer: must decode to some tree without crashing.
#include "JsonHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const JsonNode node =
        JsonHelper::parse(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    (void)node.getObject(QStringLiteral("data")).getString(QStringLiteral("url"));
    return 0;
}

#include "ServerConfig.h"

static QString fromEnvironment(const char* name, const char* fallback)
{
    QString value = qEnvironmentVariable(name).trimmed();
    if (value.isEmpty()) {
        value = QString::fromLatin1(fallback);
    }
    while (value.endsWith(QLatin1Char('/'))) {
        value.chop(1);
    }
    return value;
}

QString ServerConfig::apiBaseUrl()
{
    return fromEnvironment("TAMIX_API_URL", TAMIX_API_BASE_URL);
}

QString ServerConfig::keyBaseUrl()
{
    return fromEnvironment("TAMIX_KEY_URL", TAMIX_KEY_BASE_URL);
}

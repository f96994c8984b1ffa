#pragma once

#include <QString>

// The two server roots the client talks to. Fixed at build time; the environment variables
// TAMIX_API_URL and TAMIX_KEY_URL override them (tests and the demo point them at the
// stand-in school).
class ServerConfig
{
public:
    static QString apiBaseUrl();
    static QString keyBaseUrl();
};

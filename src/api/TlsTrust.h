#pragma once

#include <QString>

// Whom the client trusts over HTTPS. The toolkit's requests use the default TLS configuration
// of the process, the player (mpv through ffmpeg) is told a CA file of its own.
class TlsTrust
{
public:
    // For tests against a school with a certificate of its own test CA: every request of the
    // process, the player and the web view trust that CA as well. The web view only learns it
    // when it starts, so this comes before the first web page. The program never calls this.
    static bool addCaForTests(const QString& pemFile);
    // The CA file the player verifies servers with: the test CA when one was added, else the
    // system's bundle where ffmpeg needs one named; empty when ffmpeg finds the system's
    // store on its own.
    static QString caFileForPlayer();

private:
    static QString testCa;
};

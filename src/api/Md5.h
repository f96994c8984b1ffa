#pragma once

#include <QString>

// Lowercase hexadecimal MD5 digests of text.
class Md5
{
public:
    // Over the Latin-1 bytes (characters outside Latin-1 become '?'): the form the school's
    // signatures use.
    static QString latin1Hex(const QString& text);
    // Over the UTF-8 bytes: distinct for distinct titles, so it names local directories.
    static QString utf8Hex(const QString& text);
};

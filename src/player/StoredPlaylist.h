#pragma once

#include <QByteArray>
#include <QString>

class FileCipher;

// The playlist of a downloaded lesson: its folder's encrypted "*.ls" file, decrypted.
class StoredPlaylist
{
public:
    // True with `playlist` set when the folder holds a real playlist; a missing, undecryptable
    // or damaged file gives false.
    static bool read(const QString& dir, const FileCipher& cipher, QByteArray* playlist);
    // Whether the bytes start as an HLS playlist (a UTF-8 mark allowed).
    static bool isPlaylist(const QByteArray& bytes);
};

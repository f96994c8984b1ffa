#pragma once

#include <QByteArray>

class QIODevice;

// Whether a stored media file is whole: decrypted where it is encrypted (AES-128-CBC), an
// MPEG-TS segment must consist of whole 188-byte packets that begin with the sync byte, and an
// MP4 file (init section or fragment) of boxes that end exactly at the end of the file. Only a
// few blocks are read, so a whole lesson is checked in milliseconds; a file cut short, an error
// page or bytes under the wrong key fail.
class MediaCheck
{
public:
    enum class Kind { Segment, Init };
    // What a whole file holds.
    enum class Container { None, TransportStream, Mp4 };

    // `key` is empty for a plain file; otherwise 16 bytes, with a 16-byte `iv`.
    static bool isWhole(QIODevice* file, Kind kind, const QByteArray& key, const QByteArray& iv);
    static bool isWhole(const QString& path, Kind kind, const QByteArray& key,
                        const QByteArray& iv);
    // The container of a whole file; None when it is not whole (init sections are MP4 only).
    static Container container(QIODevice* file, Kind kind, const QByteArray& key,
                               const QByteArray& iv);
};

#pragma once

#include <QString>

// Decides whether a segment name from a playlist may become a file in the lesson directory:
// only plain file names that stay inside it, are valid on every desktop system and cannot
// replace the stored playlist or a file still being written.
class SegmentName
{
public:
    static bool isPlain(const QString& name);
    // Whether the player reads a local file of this name: its HLS reader opens stored
    // segments only with the extensions of common media files.
    static bool isPlayable(const QString& name);
    // The suffix of a segment while it is being written.
    static const QString partialSuffix;
    // The stored, encrypted playlist of a lesson.
    static const QString playlistName;
};

#pragma once

#include "MediaCheck.h"

#include <QString>

// Decides whether a segment name from a playlist may become a file in the lesson directory:
// only plain file names that stay inside it, are valid on every desktop system and cannot
// replace the stored playlist or a file still being written.
class SegmentName
{
public:
    static bool isPlain(const QString& name);
    // Whether a stored file of this name holding `container` is read by the player: its HLS
    // reader opens a local file only when the name's extension fits what it finds inside
    // (MPEG-TS as .ts, MP4 as .mp4 or .m4s), so "seg1.mp4" holding MPEG-TS is refused.
    static bool suits(const QString& name, MediaCheck::Container container);
    // The extension (with its dot) a file of `container` is stored under.
    static QString extensionFor(MediaCheck::Container container);
    // The suffix of a segment while it is being written.
    static const QString partialSuffix;
    // The stored, encrypted playlist of a lesson.
    static const QString playlistName;
};

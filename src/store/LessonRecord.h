#pragma once

#include <QDataStream>
#include <QList>
#include <QString>

class JsonNode;
class URLManager;

// Download state of a lesson.
enum DownloadState : qint32 {
    NotChosen = 0,
    Chosen = 1,   // chosen, waiting in or running from the queue
    Complete = 2, // downloaded and stored
    Failed = 3,
};

// One lesson of a course, as the server describes it, with its local download bookkeeping.
class LessonRecord
{
public:
    LessonRecord() = default;
    // `urls` signs the key-and-address request stored with the lesson.
    LessonRecord(const QString& courseId, const JsonNode& node, const URLManager& urls);

    bool operator==(const LessonRecord& other) const;
    bool operator!=(const LessonRecord& other) const { return !(*this == other); }

    // 1 chapter ("zhang"), 2 section ("jie"), 3 courseware ("kejian"), 0 anything else.
    static qint32 levelOf(const QString& type);

    QString courseId;
    QString id;
    QString number;
    QString c_type;
    QString type;
    QString title;
    QString c_time;
    QString stutas;
    QString watchtimes;
    qint32 level = 0;
    qint32 state = NotChosen;
    QString keyUrl;
    QString dir;
    // Kept in the user record's trailing block, not in the lesson's own stream form (which
    // earlier versions read): a queued lesson the student paused is not fetched; a failed
    // lesson keeps why, in the student's words.
    bool paused = false;
    QString failReason;
    // Also in the trailing block: played to its end at least once, and its length in seconds as
    // the player last found it (0 while unknown), so that a remembered position reads as a share.
    bool watched = false;
    qint32 lengthSeconds = 0;
};

QDataStream& operator<<(QDataStream& out, const LessonRecord& lesson);
QDataStream& operator>>(QDataStream& in, LessonRecord& lesson);
QDataStream& operator<<(QDataStream& out, const QList<LessonRecord>& lessons);
QDataStream& operator>>(QDataStream& in, QList<LessonRecord>& lessons);

#pragma once

#include "CourseRecord.h"
#include "SchoolProcess.h"
#include "URLManager.h"

#include <QJsonObject>
#include <QStringList>
#include <memory>

// The stand-in school with a logged-in session, and what the download tests compare against:
// the school's own lesson files and seed.
class LessonFixture
{
public:
    static constexpr const char* user = "13800000001";

    // Starts the school, points the client at it and binds a session to the user.
    bool start(QString* error);

    SchoolProcess school;
    std::unique_ptr<URLManager> urls;
    QString sid = "download-test-session";
    QJsonObject seed;

    // The course as the download-info call describes it (labels, key URLs).
    CourseRecord course(const QString& classId) const;
    // The lesson of `course` with this id, or null.
    static LessonRecord* lesson(CourseRecord& course, const QString& id);

    static QString mediaFile(const QString& media, const QString& name);
    static QByteArray read(const QString& path);
    // Segment names of a lesson, in playlist order, from the school's own playlist file.
    static QStringList segmentNames(const QString& media);
    QString keyName(const QString& media) const;
    // Segment requests of one lesson's media per segment name.
    QHash<QString, int> segmentRequests(const QString& media);
    int routeCount(const QString& route);
    // Names in a directory, sorted; files and directories.
    static QStringList entries(const QString& dir);
};

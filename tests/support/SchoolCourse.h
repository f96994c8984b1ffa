#pragma once

// The course as the school's download-information call describes it, for tests that link the
// client's libraries. Header only: the school helper library itself links none of them.
#include "CourseRecord.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "URLManager.h"

#include <QStringList>

// Lessons named in `chosen` are chosen for download, the others not.
inline CourseRecord schoolCourse(const URLManager& urls, const QString& classId,
                                 const QStringList& chosen = {})
{
    HttpHelper http(nullptr, true);
    const QString text = http.getSync(urls.getMyCourseInfoForPcDownLoadUrl(classId), 10000);
    CourseRecord course(JsonHelper::parse(text).getObject(QStringLiteral("data")), urls);
    for (LessonRecord& lesson : course.list) {
        lesson.state = chosen.contains(lesson.id) ? Chosen : NotChosen;
    }
    return course;
}

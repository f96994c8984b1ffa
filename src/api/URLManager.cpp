#include "URLManager.h"

#include "Md5.h"
#include "ServerConfig.h"

#include <QUrl>

const QString URLManager::salt = QStringLiteral("mavrotq3071|");
const QString URLManager::clientVersion = QStringLiteral("1.1.4");

// The constant every signature carries besides the values that are sent.
static const QString signConstant = QStringLiteral("3");

static const QString foreuser = QStringLiteral("/foreuser_app/");
static const QString course = QStringLiteral("/course_app/");

static QString encoded(const QString& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

URLManager::URLManager(std::function<QString()> sessionId, QObject* parent)
    : QObject(parent), sessionId(std::move(sessionId))
{
}

QString URLManager::sign(const QStringList& values) const
{
    QString text;
    for (const QString& value : values) {
        text += salt + value;
    }
    return Md5::latin1Hex(text);
}

QString URLManager::call(const QString& folderAndPath, const Query& query,
                         const QStringList& signedValues, const QString& fixedTail) const
{
    QString url = ServerConfig::apiBaseUrl() + folderAndPath;
    QChar separator = QLatin1Char('?');
    for (const auto& [key, value] : query) {
        url += separator + key + QLatin1Char('=') + encoded(value);
        separator = QLatin1Char('&');
    }
    url += fixedTail;
    url += separator + QStringLiteral("sign=") + sign(signedValues);
    return url;
}

QString URLManager::getSessionIdUrl() const
{
    return call(foreuser + QStringLiteral("getSessionId/"), {}, {signConstant});
}

QString URLManager::getLoginUrl(const QString& username, const QString& password) const
{
    const QString sid = sessionId();
    return call(foreuser + QStringLiteral("dologin/"),
                {{QStringLiteral("key"), sid},
                 {QStringLiteral("password"), password},
                 {QStringLiteral("username"), username}},
                {sid, password, signConstant, username});
}

QString URLManager::getRegisterUrl(const QString& username, const QString& password,
                                   const QString& repassword) const
{
    const QString sid = sessionId();
    return call(foreuser + QStringLiteral("doregister/"),
                {{QStringLiteral("key"), sid},
                 {QStringLiteral("username"), username},
                 {QStringLiteral("password"), password},
                 {QStringLiteral("repassword"), repassword}},
                {sid, password, QStringLiteral("5"), QStringLiteral("3"), repassword, signConstant,
                 username},
                QStringLiteral("&register_site=3&register_client=5"));
}

QString URLManager::getForgetUrl(const QString& username, const QString& oldPwd,
                                 const QString& newPwd, const QString& newRepwd) const
{
    const QString sid = sessionId();
    return call(foreuser + QStringLiteral("doforget/"),
                {{QStringLiteral("key"), sid},
                 {QStringLiteral("username"), username},
                 {QStringLiteral("old_pwd"), oldPwd},
                 {QStringLiteral("new_pwd"), newPwd},
                 {QStringLiteral("new_repwd"), newRepwd}},
                {sid, newPwd, newRepwd, oldPwd, signConstant, username});
}

QString URLManager::getMyCourseListUrl() const
{
    const QString sid = sessionId();
    return call(course + QStringLiteral("GetMyCourseList/"), {{QStringLiteral("key"), sid}},
                {sid, signConstant});
}

QString URLManager::getMyCourseInfoForPcUrl(const QString& classId) const
{
    const QString sid = sessionId();
    return call(course + QStringLiteral("GetMyCourseInfoForPc/"),
                {{QStringLiteral("key"), sid}, {QStringLiteral("class_id"), classId}},
                {classId, sid, signConstant});
}

QString URLManager::getMyCourseInfoForPcDownLoadUrl(const QString& classId) const
{
    const QString sid = sessionId();
    return call(course + QStringLiteral("GetMyCourseInfoForPcDownLoad/"),
                {{QStringLiteral("key"), sid}, {QStringLiteral("class_id"), classId}},
                {classId, sid, signConstant});
}

QString URLManager::getKeysAndUrlByLidUrl(const QString& classId, const QString& lessonId,
                                          const QString& cType) const
{
    const QString sid = sessionId();
    return call(course + QStringLiteral("GetKeysAndUrlByLid/"),
                {{QStringLiteral("key"), sid},
                 {QStringLiteral("class_id"), classId},
                 {QStringLiteral("lesson_id"), lessonId},
                 {QStringLiteral("c_type"), cType}},
                {cType, classId, sid, lessonId, signConstant});
}

QString URLManager::pushLearnStatusUrl(const QString& classId, const QString& lessonId,
                                       const QString& stutas, const QString& cType) const
{
    const QString sid = sessionId();
    return call(course + QStringLiteral("PushLearnStatus/"),
                {{QStringLiteral("key"), sid},
                 {QStringLiteral("class_id"), classId},
                 {QStringLiteral("lesson_id"), lessonId},
                 {QStringLiteral("stutas"), stutas},
                 {QStringLiteral("c_type"), cType}},
                {cType, classId, sid, lessonId, stutas, signConstant});
}

QString URLManager::getPcUpdateUrl() const
{
    const QString sid = sessionId();
    const QString client = QStringLiteral("vospen_app");
    return call(course + QStringLiteral("getPcUpdate/"),
                {{QStringLiteral("key"), sid}, {QStringLiteral("type_client"), client}},
                {sid, signConstant, client});
}

QString URLManager::signUrl(const QString& pageUrl) const
{
    const QString sid = sessionId();
    return pageUrl + QStringLiteral("/?key=") + encoded(sid) + QStringLiteral("&sign=") +
           sign({sid, signConstant});
}

QString URLManager::siteUrl() const
{
    return ServerConfig::apiBaseUrl();
}

QString URLManager::feedbackUrl(const QString& uid) const
{
    return ServerConfig::apiBaseUrl() +
           QStringLiteral("/suggest/index/feedback_type/1/is_from/5/uid/") +
           (uid.isEmpty() ? QStringLiteral("1") : uid) + QStringLiteral("/version/") +
           clientVersion;
}

QString URLManager::helpUrl() const
{
    return ServerConfig::apiBaseUrl() + QStringLiteral("/help/index/from/pc");
}

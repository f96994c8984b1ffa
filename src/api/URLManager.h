#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

// Builds every address the client asks of the school's API server, signed the way the server
// checks them: MD5 over the salt placed before each signed value. Values are percent-encoded
// in the address; the signature is taken over the raw values.
class URLManager : public QObject
{
    Q_OBJECT
public:
    // `sessionId` yields the session id current at the moment an address is built.
    explicit URLManager(std::function<QString()> sessionId, QObject* parent = nullptr);

    QString getSessionIdUrl() const;
    QString getLoginUrl(const QString& username, const QString& password) const;
    QString getRegisterUrl(const QString& username, const QString& password,
                           const QString& repassword) const;
    QString getForgetUrl(const QString& username, const QString& oldPwd, const QString& newPwd,
                         const QString& newRepwd) const;
    QString getMyCourseListUrl() const;
    QString getMyCourseInfoForPcUrl(const QString& classId) const;
    QString getMyCourseInfoForPcDownLoadUrl(const QString& classId) const;
    QString getKeysAndUrlByLidUrl(const QString& classId, const QString& lessonId,
                                  const QString& cType) const;
    QString pushLearnStatusUrl(const QString& classId, const QString& lessonId,
                               const QString& stutas, const QString& cType) const;
    QString getPcUpdateUrl() const;
    // Appends the session key and signature to a page address handed out by the server.
    QString signUrl(const QString& pageUrl) const;

    // Unsigned addresses opened in the desktop browser.
    QString siteUrl() const;
    QString feedbackUrl(const QString& uid) const;
    QString helpUrl() const;

    // The signature of a list of values, in the order the server expects them.
    QString sign(const QStringList& values) const;

    static const QString salt;
    static const QString clientVersion;

private:
    using Query = QList<QPair<QString, QString>>;
    QString call(const QString& folderAndPath, const Query& query, const QStringList& signedValues,
                 const QString& fixedTail = QString()) const;

    std::function<QString()> sessionId;
};

#include "School.h"
#include "MediaLibrary.h"
#include "RequestQuery.h"
#include "Signature.h"
#include "Statistics.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {

// A TEST KEY, published with the sources: the seed of the stand-in school's Ed25519 signing
// key. Only test builds trust its public half; a real school keeps its key to itself.
const char testSigningSeed[] = "5b8b14673e26512d3370a5edf4b9c4db90adeb77d92357cba7100d91d9c9c6c4";

using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Pkey testSigningKey()
{
    const QByteArray seed = QByteArray::fromHex(testSigningSeed);
    return Pkey(EVP_PKEY_new_raw_private_key(
                    EVP_PKEY_ED25519, nullptr,
                    reinterpret_cast<const unsigned char*>(seed.constData()), size_t(seed.size())),
                &EVP_PKEY_free);
}

// Base64 of the Ed25519 signature of `message`; empty when OpenSSL fails.
QString testSignature(const QByteArray& message)
{
    const Pkey key = testSigningKey();
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    unsigned char signature[64];
    size_t length = sizeof signature;
    if (!key || !context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), signature, &length,
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       size_t(message.size())) != 1) {
        return QString();
    }
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(signature), int(length)).toBase64());
}

const QString kFlagOk = QStringLiteral("1");

// Seed values may be numbers or text; answers and checks compare them as text.
QString text(const QJsonValue& value)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d == double(qint64(d))) {
            return QString::number(qint64(d));
        }
        return QString::number(d, 'g', 15);
    }
    return value.toString();
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A JSON string literal, quotes and escapes included.
QByteArray quoted(const QString& value)
{
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
}

// The value of one cookie of a Cookie header. The HTTP library has already percent-decoded
// header values, so "%2B" arrives here as '+' and is compared as such.
QString cookieValue(const QString& header, const QString& name)
{
    const QStringList parts = header.split(QLatin1Char(';'));
    for (const QString& part : parts) {
        const QString item = part.trimmed();
        const int eq = item.indexOf(QLatin1Char('='));
        if (eq > 0 && item.left(eq).trimmed() == name) {
            return item.mid(eq + 1).trimmed();
        }
    }
    return QString();
}

} // namespace

School::School(const MediaLibrary& media, Statistics& stats) : media(media), stats(stats)
{
    const QString user = QStringLiteral("foreuser_app");
    const QString course = QStringLiteral("course_app");
    const QString three = QStringLiteral("=3");
    calls = {
        {QStringLiteral("getSessionId"), {user, {three}, &School::getSessionId}},
        {QStringLiteral("dologin"),
         {user,
          {QStringLiteral("key"), QStringLiteral("password"), three, QStringLiteral("username")},
          &School::doLogin}},
        {QStringLiteral("doregister"),
         {user,
          {QStringLiteral("key"), QStringLiteral("password"), QStringLiteral("register_client"),
           QStringLiteral("register_site"), QStringLiteral("repassword"), three,
           QStringLiteral("username")},
          &School::doRegister}},
        {QStringLiteral("doforget"),
         {user,
          {QStringLiteral("key"), QStringLiteral("new_pwd"), QStringLiteral("new_repwd"),
           QStringLiteral("old_pwd"), three, QStringLiteral("username")},
          &School::doForget}},
        {QStringLiteral("GetMyCourseList"),
         {course, {QStringLiteral("key"), three}, &School::getMyCourseList}},
        {QStringLiteral("GetMyCourseInfoForPc"),
         {course,
          {QStringLiteral("class_id"), QStringLiteral("key"), three},
          &School::getMyCourseInfoForPc,
          true}},
        {QStringLiteral("GetMyCourseInfoForPcDownLoad"),
         {course,
          {QStringLiteral("class_id"), QStringLiteral("key"), three},
          &School::getMyCourseInfoForPcDownLoad}},
        {QStringLiteral("GetKeysAndUrlByLid"),
         {course,
          {QStringLiteral("c_type"), QStringLiteral("class_id"), QStringLiteral("key"),
           QStringLiteral("lesson_id"), three},
          &School::getKeysAndUrlByLid}},
        {QStringLiteral("PushLearnStatus"),
         {course,
          {QStringLiteral("c_type"), QStringLiteral("class_id"), QStringLiteral("key"),
           QStringLiteral("lesson_id"), QStringLiteral("stutas"), three},
          &School::pushLearnStatus}},
        {QStringLiteral("getPcUpdate"),
         {course,
          {QStringLiteral("key"), three, QStringLiteral("type_client")},
          &School::getPcUpdate}},
    };
}

bool School::loadSeed(const QByteArray& bytes, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("seed is not a JSON object: ") + parseError.errorString();
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonObject desktop = root.value(QLatin1String("desktop")).toObject();
    desktopVersion = text(desktop.value(QLatin1String("version")));
    desktopContent = text(desktop.value(QLatin1String("content")));
    desktopInstaller = text(desktop.value(QLatin1String("installer")));
    desktopInstallerSize = qint64(desktop.value(QLatin1String("installerSize")).toDouble(4096));
    seedMedia = root.value(QLatin1String("media")).toArray();

    for (const QJsonValue& item : root.value(QLatin1String("courses")).toArray()) {
        const QJsonObject object = item.toObject();
        Course course;
        course.id = text(object.value(QLatin1String("id")));
        course.title = text(object.value(QLatin1String("title")));
        course.teacher = text(object.value(QLatin1String("teacher")));
        course.listForm = text(object.value(QLatin1String("listForm")));
        for (const QJsonValue& entry : object.value(QLatin1String("lessons")).toArray()) {
            QJsonObject fields = entry.toObject();
            Lesson lesson;
            lesson.id = text(fields.value(QLatin1String("id")));
            lesson.type = text(fields.value(QLatin1String("type")));
            lesson.cType = text(fields.value(QLatin1String("c_type")));
            lesson.title = text(fields.value(QLatin1String("title")));
            lesson.number = text(fields.value(QLatin1String("number"))).toInt();
            lesson.media = text(fields.value(QLatin1String("media")));
            if (!lesson.media.isEmpty() && !media.stream(lesson.media)) {
                *error = QStringLiteral("lesson ") + lesson.id +
                         QStringLiteral(" names unknown media ") + lesson.media;
                return false;
            }
            fields.remove(QStringLiteral("media"));
            lesson.fields = fields;
            course.lessons.append(lesson);
        }
        courses.insert(course.id, course);
    }
    for (const QJsonValue& item : root.value(QLatin1String("users")).toArray()) {
        const QJsonObject object = item.toObject();
        User user;
        user.uid = text(object.value(QLatin1String("uid")));
        user.username = text(object.value(QLatin1String("username")));
        user.password = text(object.value(QLatin1String("password")));
        user.nickname = text(object.value(QLatin1String("nickname")));
        user.email = text(object.value(QLatin1String("email")));
        user.avatar = QStringLiteral("avatar/") + user.uid + QStringLiteral(".jpg");
        for (const QJsonValue& id : object.value(QLatin1String("courses")).toArray()) {
            if (!courses.contains(text(id))) {
                *error = QStringLiteral("user ") + user.username +
                         QStringLiteral(" owns unknown course ") + text(id);
                return false;
            }
            user.courses.append(text(id));
        }
        const QJsonObject progress = object.value(QLatin1String("progress")).toObject();
        for (auto it = progress.begin(); it != progress.end(); ++it) {
            const QJsonObject p = it.value().toObject();
            user.progress.insert(it.key(), {text(p.value(QLatin1String("stutas"))),
                                            text(p.value(QLatin1String("watchtimes")))});
        }
        nextUid = std::max(nextUid, user.uid.toInt() + 1);
        users.insert(user.username, user);
    }
    if (users.isEmpty() || courses.isEmpty()) {
        *error = QStringLiteral("seed needs users and courses");
        return false;
    }
    return true;
}

QByteArray School::envelope(const QString& flag, const QByteArray& data, const QString& infos)
{
    return "{\"flag\":" + quoted(flag) + ",\"data\":" + data + ",\"infos\":" + quoted(infos) + '}';
}

School::Answer School::json(const QString& flag, const QByteArray& data, const QString& infos)
{
    Answer answer;
    answer.contentType = "application/json; charset=utf-8";
    answer.body = envelope(flag, data, infos);
    return answer;
}

School::Answer School::json(const QString& flag, const QJsonObject& data, const QString& infos)
{
    return json(flag, compact(data), infos);
}

School::Answer School::htmlMessage(int status, const QString& title, const QString& message) const
{
    QJsonObject data{{QStringLiteral("message"), message}};
    Answer answer = renderPage(QStringLiteral("message"), title, data);
    answer.status = status;
    return answer;
}

School::Answer School::renderPage(const QString& name, const QString& title,
                                  const QJsonObject& data) const
{
    QByteArray page = pages.value(name);
    QByteArray payload = compact(data);
    // Keeps the embedded data from closing its script element.
    payload.replace("</", "<\\/");
    page.replace("{{TITLE}}", title.toHtmlEscaped().toUtf8());
    page.replace("{{DATA}}", payload);
    Answer answer;
    answer.contentType = "text/html; charset=utf-8";
    answer.body = page;
    return answer;
}

QStringList School::signedValues(const QStringList& keys, const RequestQuery& query)
{
    QStringList values;
    for (const QString& key : keys) {
        values.append(key.startsWith(QLatin1Char('=')) ? key.mid(1) : query.value(key));
    }
    return values;
}

bool School::call(const QString& folder, const QString& endpoint, const RequestQuery& query,
                  Answer* answer, const QString& extraQuery)
{
    auto it = calls.constFind(endpoint);
    if (it == calls.constEnd() || it->folder != folder) {
        return false;
    }
    if (!Signature::matches(signedValues(it->signedKeys, query),
                            query.value(QStringLiteral("sign")))) {
        stats.badSignature(endpoint);
        if (it->page) {
            *answer = htmlMessage(403, QStringLiteral("签名错误"),
                                  QStringLiteral("签名校验失败，请从客户端打开本页面。"));
        } else {
            *answer = json(QStringLiteral("0"), QJsonObject(), QStringLiteral("签名校验失败"));
        }
        return true;
    }
    std::lock_guard<std::mutex> lock(mutex);
    playlistQuery = extraQuery;
    *answer = (this->*(it->handler))(query);
    return true;
}

School::Answer School::myClassPage(const RequestQuery& query)
{
    const QStringList keys{QStringLiteral("key"), QStringLiteral("=3")};
    if (!Signature::matches(signedValues(keys, query), query.value(QStringLiteral("sign")))) {
        stats.badSignature(QStringLiteral("myclass"));
        return htmlMessage(403, QStringLiteral("签名错误"),
                           QStringLiteral("签名校验失败，请从客户端打开本页面。"));
    }
    std::lock_guard<std::mutex> lock(mutex);
    const User* user = sessionUser(query);
    if (!user) {
        return htmlMessage(200, QStringLiteral("请先登录"),
                           QStringLiteral("登录已失效，请在客户端重新登录。"));
    }
    QJsonArray list;
    for (const QString& id : user->courses) {
        list.append(pageCourse(*user, courses.value(id)));
    }
    return renderPage(
        QStringLiteral("myclass"), QStringLiteral("我的课程"),
        QJsonObject{{QStringLiteral("user"), pageUser(*user)}, {QStringLiteral("courses"), list}});
}

const School::User* School::sessionUser(const RequestQuery& query) const
{
    const QString name = sessions.value(query.value(QStringLiteral("key")));
    auto it = users.constFind(name);
    return name.isEmpty() || it == users.constEnd() ? nullptr : &it.value();
}

School::User* School::sessionUser(const RequestQuery& query)
{
    const QString name = sessions.value(query.value(QStringLiteral("key")));
    auto it = users.find(name);
    return name.isEmpty() || it == users.end() ? nullptr : &it.value();
}

const School::Course* School::ownedCourse(const User& user, const QString& classId) const
{
    auto it = courses.constFind(classId);
    if (it == courses.constEnd() || !user.courses.contains(classId)) {
        return nullptr;
    }
    return &it.value();
}

QString School::imageUrl(const QString& path) const
{
    return apiBase + QStringLiteral("/img/") + path;
}

QString School::keysFor(const QString& sid, const QString& lessonId) const
{
    const QByteArray digest = QCryptographicHash::hash(
        (QStringLiteral("keys|") + sid + QLatin1Char('|') + lessonId).toUtf8(),
        QCryptographicHash::Md5);
    // Always holds a '+', as the real school's keys do, with base64 text after it.
    return QString::fromLatin1(digest.toHex().left(12)) + QLatin1Char('+') +
           QString::fromLatin1(digest.toBase64());
}

QJsonObject School::lessonFor(const User& user, const Lesson& lesson) const
{
    QJsonObject out = lesson.fields;
    const Progress progress = user.progress.value(lesson.id);
    out.insert(QStringLiteral("stutas"),
               progress.stutas.isEmpty() ? QStringLiteral("1") : progress.stutas);
    out.insert(QStringLiteral("watchtimes"),
               progress.watchtimes.isEmpty() ? QStringLiteral("0") : progress.watchtimes);
    return out;
}

QJsonObject School::pageUser(const User& user) const
{
    const QString avatar =
        media.image(user.avatar).isEmpty() ? QStringLiteral("avatar/default.jpg") : user.avatar;
    return QJsonObject{{QStringLiteral("uid"), user.uid},
                       {QStringLiteral("username"), user.username},
                       {QStringLiteral("nickname"), user.nickname},
                       {QStringLiteral("avatar"), imageUrl(avatar)}};
}

QJsonObject School::pageCourse(const User& user, const Course& course) const
{
    QVector<Lesson> sorted = course.lessons;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Lesson& a, const Lesson& b) { return a.number < b.number; });
    QJsonArray lessons;
    for (const Lesson& lesson : sorted) {
        QJsonObject item = lessonFor(user, lesson);
        item.insert(QStringLiteral("id"), lesson.id);
        item.insert(QStringLiteral("c_type"), lesson.cType);
        item.insert(QStringLiteral("number"), lesson.number);
        item.insert(QStringLiteral("vid"), lesson.media);
        lessons.append(item);
    }
    return QJsonObject{{QStringLiteral("id"), course.id},
                       {QStringLiteral("title"), course.title},
                       {QStringLiteral("teacher"), course.teacher},
                       {QStringLiteral("img"),
                        imageUrl(QStringLiteral("course/") + course.id + QStringLiteral(".jpg"))},
                       {QStringLiteral("lessons"), lessons}};
}

School::Answer School::getSessionId(const RequestQuery&)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuv0123456789";
    QString sid;
    do {
        sid.clear();
        for (int i = 0; i < 26; ++i) {
            sid += QLatin1Char(alphabet[QRandomGenerator::global()->bounded(32)]);
        }
    } while (sessions.contains(sid));
    sessions.insert(sid, QString());
    return json(kFlagOk, QJsonObject{{QStringLiteral("sid"), sid}}, QString());
}

School::Answer School::doLogin(const RequestQuery& query)
{
    const QString sid = query.value(QStringLiteral("key"));
    const QString name = query.value(QStringLiteral("username"));
    const QString password = query.value(QStringLiteral("password"));
    const QString failed = QStringLiteral("-2");
    if (sid.isEmpty()) {
        return json(QStringLiteral("0"), QJsonObject(),
                    QStringLiteral("会话无效，请重新打开客户端"));
    }
    if (name.isEmpty() || password.isEmpty()) {
        return json(failed, QJsonObject(), QStringLiteral("请输入用户名和密码"));
    }
    auto it = users.constFind(name);
    if (it == users.constEnd()) {
        return json(failed, QJsonObject(), QStringLiteral("该用户不存在"));
    }
    if (it->password != password) {
        return json(failed, QJsonObject(), QStringLiteral("密码错误，请重新输入"));
    }
    // Like a web session, an id the school has not handed out yet starts a new session.
    sessions.insert(sid, name);
    const QJsonObject user = pageUser(*it);
    return json(kFlagOk,
                QJsonObject{{QStringLiteral("username"), it->username},
                            {QStringLiteral("uid"), it->uid},
                            {QStringLiteral("nickname"), it->nickname},
                            {QStringLiteral("email"), it->email},
                            {QStringLiteral("is_img"), user.value(QLatin1String("avatar"))}},
                QStringLiteral("登录成功"));
}

School::Answer School::doRegister(const RequestQuery& query)
{
    const QString name = query.value(QStringLiteral("username"));
    const QString password = query.value(QStringLiteral("password"));
    const QString fail = QStringLiteral("0");
    if (query.value(QStringLiteral("key")).isEmpty()) {
        return json(fail, QJsonObject(), QStringLiteral("会话无效，请重新打开客户端"));
    }
    if (name.trimmed().isEmpty() || password.isEmpty()) {
        return json(fail, QJsonObject(), QStringLiteral("用户名和密码不能为空"));
    }
    if (password != query.value(QStringLiteral("repassword"))) {
        return json(fail, QJsonObject(), QStringLiteral("两次输入的密码不一致"));
    }
    if (users.contains(name)) {
        return json(fail, QJsonObject(), QStringLiteral("该用户名已被注册"));
    }
    User user;
    user.uid = QString::number(nextUid++);
    user.username = name;
    user.password = password;
    user.nickname = name;
    user.avatar = QStringLiteral("avatar/default.jpg");
    users.insert(name, user);
    return json(
        kFlagOk,
        QJsonObject{{QStringLiteral("uid"), user.uid}, {QStringLiteral("username"), user.username}},
        QStringLiteral("注册成功"));
}

// The refusals every course call shares.
School::Answer School::notLoggedIn()
{
    return json(QStringLiteral("-1"), QJsonObject(), QStringLiteral("请先登录"));
}

School::Answer School::courseNotBought()
{
    return json(QStringLiteral("0"), QJsonObject(), QStringLiteral("您没有购买该课程"));
}

School::Answer School::doForget(const RequestQuery& query)
{
    const QString fail = QStringLiteral("0");
    User* current = sessionUser(query);
    if (!current) {
        return notLoggedIn();
    }
    if (current->username != query.value(QStringLiteral("username"))) {
        return json(fail, QJsonObject(), QStringLiteral("只能修改当前登录账号的密码"));
    }
    if (current->password != query.value(QStringLiteral("old_pwd"))) {
        return json(fail, QJsonObject(), QStringLiteral("原密码错误"));
    }
    const QString newPassword = query.value(QStringLiteral("new_pwd"));
    if (newPassword.isEmpty()) {
        return json(fail, QJsonObject(), QStringLiteral("新密码不能为空"));
    }
    if (newPassword != query.value(QStringLiteral("new_repwd"))) {
        return json(fail, QJsonObject(), QStringLiteral("两次输入的新密码不一致"));
    }
    current->password = newPassword;
    return json(kFlagOk, QJsonObject(), QStringLiteral("修改成功"));
}

School::Answer School::getMyCourseList(const RequestQuery& query)
{
    const User* user = sessionUser(query);
    if (!user) {
        return notLoggedIn();
    }
    return json(
        kFlagOk,
        QJsonObject{{QStringLiteral("url"), QString(apiBase + QStringLiteral("/myclass/index"))},
                    {QStringLiteral("count"), QString::number(user->courses.size())}},
        QString());
}

School::Answer School::getMyCourseInfoForPc(const RequestQuery& query)
{
    const User* user = sessionUser(query);
    if (!user) {
        return htmlMessage(200, QStringLiteral("请先登录"),
                           QStringLiteral("登录已失效，请在客户端重新登录。"));
    }
    const Course* course = ownedCourse(*user, query.value(QStringLiteral("class_id")));
    if (!course) {
        return htmlMessage(404, QStringLiteral("课程不存在"),
                           QStringLiteral("没有找到这门课程，或您尚未购买。"));
    }
    return renderPage(QStringLiteral("course"), course->title,
                      QJsonObject{{QStringLiteral("user"), pageUser(*user)},
                                  {QStringLiteral("course"), pageCourse(*user, *course)}});
}

School::Answer School::getMyCourseInfoForPcDownLoad(const RequestQuery& query)
{
    const User* user = sessionUser(query);
    if (!user) {
        return notLoggedIn();
    }
    const Course* course = ownedCourse(*user, query.value(QStringLiteral("class_id")));
    if (!course) {
        return courseNotBought();
    }
    // The list comes as an array or as an object keyed by lesson id, in the seed's order,
    // which is not the lessons' order.
    QByteArray list;
    const bool asObject = course->listForm == QLatin1String("object");
    list += asObject ? '{' : '[';
    for (int i = 0; i < course->lessons.size(); ++i) {
        const Lesson& lesson = course->lessons.at(i);
        if (i > 0) {
            list += ',';
        }
        if (asObject) {
            list += '"' + lesson.id.toUtf8() + "\":";
        }
        list += compact(lessonFor(*user, lesson));
    }
    list += asObject ? '}' : ']';
    QByteArray data = compact(
        QJsonObject{{QStringLiteral("id"), course->id},
                    {QStringLiteral("title"), course->title},
                    {QStringLiteral("teacher"), course->teacher},
                    {QStringLiteral("img"),
                     imageUrl(QStringLiteral("course/") + course->id + QStringLiteral(".jpg"))}});
    data.chop(1);
    data += ",\"list\":" + list + '}';
    return json(kFlagOk, data, QString());
}

School::Answer School::getKeysAndUrlByLid(const RequestQuery& query)
{
    const User* user = sessionUser(query);
    if (!user) {
        return notLoggedIn();
    }
    const Course* course = ownedCourse(*user, query.value(QStringLiteral("class_id")));
    if (!course) {
        return courseNotBought();
    }
    const QString lessonId = query.value(QStringLiteral("lesson_id"));
    auto lesson = std::find_if(course->lessons.begin(), course->lessons.end(),
                               [&](const Lesson& l) { return l.id == lessonId; });
    if (lesson == course->lessons.end() || lesson->media.isEmpty()) {
        return json(QStringLiteral("0"), QJsonObject(), QStringLiteral("课件不存在"));
    }
    if (lesson->cType != query.value(QStringLiteral("c_type"))) {
        return json(QStringLiteral("0"), QJsonObject(), QStringLiteral("课件类型不匹配"));
    }
    const MediaLibrary::Stream* stream = media.stream(lesson->media);
    const QString keys = keysFor(query.value(QStringLiteral("key")), lesson->id);
    issuedKeys.insert(keys, stream->id);
    const QString size = QString::number(double(stream->totalBytes) / 1048576.0, 'f', 1);
    QString url = apiBase + QStringLiteral("/stream/") + stream->id + QStringLiteral("/index.m3u8");
    if (!playlistQuery.isEmpty()) {
        url += QLatin1Char('?') + playlistQuery;
    }
    return json(kFlagOk,
                QJsonObject{{QStringLiteral("url"), url},
                            {QStringLiteral("keys"), keys},
                            {QStringLiteral("filesize"), QString(size + QStringLiteral("MB"))}},
                QString());
}

School::Answer School::pushLearnStatus(const RequestQuery& query)
{
    User* user = sessionUser(query);
    if (!user) {
        return notLoggedIn();
    }
    const QString classId = query.value(QStringLiteral("class_id"));
    const Course* course = ownedCourse(*user, classId);
    const QString lessonId = query.value(QStringLiteral("lesson_id"));
    const QString stutas = query.value(QStringLiteral("stutas"));
    if (!course || std::none_of(course->lessons.begin(), course->lessons.end(),
                                [&](const Lesson& l) { return l.id == lessonId; })) {
        return json(QStringLiteral("0"), QJsonObject(), QStringLiteral("课件不存在"));
    }
    if (stutas != QLatin1String("1") && stutas != QLatin1String("2") &&
        stutas != QLatin1String("3")) {
        return json(QStringLiteral("0"), QJsonObject(), QStringLiteral("学习状态无效"));
    }
    user->progress[lessonId].stutas = stutas;
    stats.learnStatus(
        QJsonObject{{QStringLiteral("username"), user->username},
                    {QStringLiteral("class_id"), classId},
                    {QStringLiteral("lesson_id"), lessonId},
                    {QStringLiteral("stutas"), stutas},
                    {QStringLiteral("c_type"), query.value(QStringLiteral("c_type"))}});
    // The learning-status call alone reports success with "3".
    return json(QStringLiteral("3"), QJsonObject(), QStringLiteral("标注成功"));
}

School::Answer School::getPcUpdate(const RequestQuery& query)
{
    if (query.value(QStringLiteral("type_client")) != QLatin1String("vospen_app")) {
        return json(QStringLiteral("0"), QJsonObject(), QStringLiteral("未知的客户端类型"));
    }
    return json(kFlagOk,
                QJsonObject{{QStringLiteral("meta_version"), desktopVersion},
                            {QStringLiteral("meta_content"), desktopContent},
                            {QStringLiteral("meta_download_url"),
                             QString(apiBase + QStringLiteral("/download/") + desktopInstaller)},
                            {QStringLiteral("meta_sha256"), desktopInstallerSha256},
                            {QStringLiteral("meta_signature"), desktopInstallerSignature},
                            // As long as the server makes the installer.
                            {QStringLiteral("meta_size"),
                             double(std::max<qint64>(64, desktopInstallerSize))}},
                QString());
}

bool School::cookieOpens(const QString& cookieHeader, const QString& streamId) const
{
    const QString keys = cookieValue(cookieHeader, QStringLiteral("keys"));
    std::lock_guard<std::mutex> lock(mutex);
    return !keys.isEmpty() && issuedKeys.value(keys) == streamId;
}

QString School::versionInstallerName() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return desktopInstaller;
}

bool School::bindSession(const QString& sid, const QString& username, QString* error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (sid.isEmpty()) {
        *error = QStringLiteral("a session needs an id");
        return false;
    }
    if (!username.isEmpty() && !users.contains(username)) {
        *error = QStringLiteral("no such user: ") + username;
        return false;
    }
    sessions.insert(sid, username);
    return true;
}

int School::forgetSessions()
{
    std::lock_guard<std::mutex> lock(mutex);
    const int count = sessions.size();
    sessions.clear();
    return count;
}

void School::setInstallerSha256(const QString& hex)
{
    // What is signed is the digest itself, so a client checks the signature without keeping
    // the installer in memory.
    const QString signature = testSignature(QByteArray::fromHex(hex.toLatin1()));
    std::lock_guard<std::mutex> lock(mutex);
    desktopInstallerSha256 = hex;
    desktopInstallerSignature = signature;
}

void School::setDesktopVersion(const QString& version, const QString& content)
{
    std::lock_guard<std::mutex> lock(mutex);
    desktopVersion = version;
    if (!content.isNull()) {
        desktopContent = content;
    }
}

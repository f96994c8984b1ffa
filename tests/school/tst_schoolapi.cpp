// The stand-in school's signed calls, accounts, course answers and pages.
#include "ChildProcess.h"
#include "SchoolClient.h"
#include "SchoolProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using Params = SchoolClient::Params;

class TestSchoolApi : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void sessionIdSignature();
    void signedCalls_data();
    void signedCalls();
    void handComputedSignatures();
    void encodedValuesSignLatin1();
    void accounts_data();
    void accounts();
    void passwordChange();
    void courseCallsNeedLogin();
    void courseAnswer_data();
    void courseAnswer();
    void courseOfAnotherUserRefused();
    void learningStatusIsKept();
    void versionAnswerAndInstaller();
    void pages();
    void helpAndBadArguments();

private:
    QJsonObject seedCourse(const QString& id) const;

    SchoolProcess school;
    std::unique_ptr<SchoolClient> client; // logged in as the first demo user
    QJsonObject seed;
};

static QString flag(const QJsonObject& answer)
{
    return answer.value("flag").toVariant().toString();
}

void TestSchoolApi::initTestCase()
{
    QFile file(SchoolProcess::seedFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    seed = QJsonDocument::fromJson(file.readAll()).object();
    QVERIFY2(school.start(), qPrintable(school.errorString()));
    client.reset(new SchoolClient(school.apiUrl()));
    QVERIFY(client->login("13800000001", "tamix123"));
}

QJsonObject TestSchoolApi::seedCourse(const QString& id) const
{
    for (const QJsonValue& c : seed.value("courses").toArray()) {
        if (c.toObject().value("id").toString() == id) {
            return c.toObject();
        }
    }
    return QJsonObject();
}

void TestSchoolApi::sessionIdSignature()
{
    // md5sum of "mavrotq3071|3"
    SchoolClient::Reply reply = client->get(
        school.apiUrl() + "/foreuser_app/getSessionId/?sign=e2f24205939b9a4dd98989bc83c9f1db");
    QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
    QCOMPARE(flag(answer), QString("1"));
    QCOMPARE(answer.value("data").toObject().value("sid").toString().size(), 26);

    reply = client->get(school.apiUrl() +
                        "/foreuser_app/getSessionId/?sign=e2f24205939b9a4dd98989bc83c9f1dc");
    answer = QJsonDocument::fromJson(reply.body).object();
    QVERIFY(flag(answer) != "1");
    QVERIFY(!answer.value("infos").toString().isEmpty());
}

void TestSchoolApi::signedCalls_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Params>("params");
    QTest::addColumn<QStringList>("signedValues");
    QTest::addColumn<QString>("success");

    const QString sid = client->sid;
    struct Row
    {
        const char* name;
        QString path;
        Params params;
        QStringList values;
        QString success;
    };
    const QList<Row> rows = {
        {"dologin",
         "/foreuser_app/dologin/",
         {{"key", sid}, {"password", "tamix123"}, {"username", "13800000001"}},
         {sid, "tamix123", "3", "13800000001"},
         "1"},
        {"GetMyCourseList", "/course_app/GetMyCourseList/", {{"key", sid}}, {sid, "3"}, "1"},
        {"GetMyCourseInfoForPcDownLoad",
         "/course_app/GetMyCourseInfoForPcDownLoad/",
         {{"key", sid}, {"class_id", "103"}},
         {"103", sid, "3"},
         "1"},
        {"GetKeysAndUrlByLid",
         "/course_app/GetKeysAndUrlByLid/",
         {{"key", sid}, {"class_id", "103"}, {"lesson_id", "1032"}, {"c_type", "2"}},
         {"2", "103", sid, "1032", "3"},
         "1"},
        {"PushLearnStatus",
         "/course_app/PushLearnStatus/",
         {{"key", sid},
          {"class_id", "101"},
          {"lesson_id", "1018"},
          {"stutas", "1"},
          {"c_type", "1"}},
         {"1", "101", sid, "1018", "1", "3"},
         "3"},
        {"getPcUpdate",
         "/course_app/getPcUpdate/",
         {{"key", sid}, {"type_client", "vospen_app"}},
         {sid, "3", "vospen_app"},
         "1"},
        {"GetMyCourseInfoForPc",
         "/course_app/GetMyCourseInfoForPc/",
         {{"key", sid}, {"class_id", "101"}},
         {"101", sid, "3"},
         "page"},
    };
    for (const Row& row : rows) {
        QTest::addRow("%s", row.name) << row.path << row.params << row.values << row.success;
    }
}

void TestSchoolApi::signedCalls()
{
    QFETCH(QString, path);
    QFETCH(Params, params);
    QFETCH(QStringList, signedValues);
    QFETCH(QString, success);
    const QString route = path.section('/', 2, 2);
    const bool page = success == "page";

    auto accepted = [&](const SchoolClient::Reply& reply) {
        if (page) {
            return reply.status == 200 && reply.body.contains("window.SCHOOL");
        }
        return flag(QJsonDocument::fromJson(reply.body).object()) == success;
    };
    auto refusedWithText = [&](const SchoolClient::Reply& reply) {
        if (page) {
            return reply.status == 403 && reply.body.contains("签名");
        }
        const QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
        return flag(answer) != success && !flag(answer).isEmpty() &&
               !answer.value("infos").toString().isEmpty();
    };
    const int badBefore =
        school.stats().value("badSignatureRoutes").toObject().value(route).toInt();

    QVERIFY(accepted(client->call(path, params, signedValues)));

    // The same call with one value changed after signing.
    Params changed = params;
    changed.last().second += "9";
    QVERIFY(refusedWithText(client->call(path, changed, signedValues)));

    // The right values in another order.
    QStringList swapped = signedValues;
    swapped.swapItemsAt(0, swapped.size() - 1);
    QVERIFY(refusedWithText(client->call(path, params, swapped)));

    // The constant "3" left out.
    QStringList withoutThree = signedValues;
    withoutThree.removeOne("3");
    QVERIFY(refusedWithText(client->call(path, params, withoutThree)));

    QCOMPARE(school.stats().value("badSignatureRoutes").toObject().value(route).toInt(),
             badBefore + 3);
}

void TestSchoolApi::handComputedSignatures()
{
    // Signatures from md5sum over the texts in the comments.
    QVERIFY(school.bindSession("abc", "13800000001"));
    // "mavrotq3071|abcmavrotq3071|3"
    QJsonObject answer =
        QJsonDocument::fromJson(client
                                    ->get(school.apiUrl() +
                                          "/course_app/GetMyCourseList/?key=abc&sign="
                                          "420efc011c5ae484662c9fb097814110")
                                    .body)
            .object();
    QCOMPARE(flag(answer), QString("1"));
    QCOMPARE(answer.value("data").toObject().value("url").toString(),
             school.apiUrl() + "/myclass/index");
    // "mavrotq3071|101mavrotq3071|abcmavrotq3071|3"
    answer = QJsonDocument::fromJson(
                 client
                     ->get(school.apiUrl() +
                           "/course_app/GetMyCourseInfoForPcDownLoad/?key=abc&class_id=101&sign="
                           "5e97993154cea1ab43d6ef63cfe727d4")
                     .body)
                 .object();
    QCOMPARE(flag(answer), QString("1"));
    QCOMPARE(answer.value("data").toObject().value("id").toString(), QString("101"));
}

void TestSchoolApi::encodedValuesSignLatin1()
{
    // A Chinese user name signs as '?' characters; '&', '+', ' ' and '%' in a password
    // travel percent-encoded and are signed as they are.
    const QString name = "测试01";
    const QString password = "a&b+c d%";
    SchoolClient other(school.apiUrl());
    QVERIFY(other.login("13800000003", "newbie789"));
    const QJsonObject registered =
        other.callJson("/foreuser_app/doregister/",
                       {{"key", other.sid},
                        {"username", name},
                        {"password", password},
                        {"repassword", password},
                        {"register_site", "3"},
                        {"register_client", "5"}},
                       {other.sid, password, "5", "3", password, "3", name});
    QCOMPARE(flag(registered), QString("1"));

    // md5sum of "mavrotq3071|abcmavrotq3071|a&b+c d%mavrotq3071|3mavrotq3071|??01"
    const QString url = school.apiUrl() + "/foreuser_app/dologin/?key=abc&password=" +
                        QString::fromLatin1(QUrl::toPercentEncoding(password)) +
                        "&username=" + QString::fromLatin1(QUrl::toPercentEncoding(name)) +
                        "&sign=5fb3fafe5953204c3d4e9535069542ac";
    const QJsonObject answer = QJsonDocument::fromJson(other.get(url).body).object();
    QCOMPARE(flag(answer), QString("1"));
    QCOMPARE(answer.value("data").toObject().value("username").toString(), name);
}

void TestSchoolApi::accounts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("keys"); // query keys in sending order
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QList<int>>("signOrder"); // indexes into values; -1 is the constant "3"
    QTest::addColumn<QString>("expectedFlag");

    const QStringList login{"password", "username"};
    const QList<int> loginOrder{0, -1, 1};
    QTest::newRow("login wrong password")
        << "/foreuser_app/dologin/" << login << QStringList{"wrong", "13800000001"} << loginOrder
        << "-2";
    QTest::newRow("login unknown user")
        << "/foreuser_app/dologin/" << login << QStringList{"tamix123", "13899999999"} << loginOrder
        << "-2";
    QTest::newRow("login empty password") << "/foreuser_app/dologin/" << login
                                          << QStringList{"", "13800000001"} << loginOrder << "-2";
    const QStringList reg{"username", "password", "repassword", "register_site", "register_client"};
    // Signed: password, register_client, register_site, repassword, 3, username.
    const QList<int> regOrder{1, 4, 3, 2, -1, 0};
    QTest::newRow("register taken name")
        << "/foreuser_app/doregister/" << reg << QStringList{"13800000002", "pw1", "pw1", "3", "5"}
        << regOrder << "0";
    QTest::newRow("register passwords differ")
        << "/foreuser_app/doregister/" << reg << QStringList{"13812345678", "pw1", "pw2", "3", "5"}
        << regOrder << "0";
    QTest::newRow("register empty password")
        << "/foreuser_app/doregister/" << reg << QStringList{"13812345678", "", "", "3", "5"}
        << regOrder << "0";
    QTest::newRow("register new user")
        << "/foreuser_app/doregister/" << reg << QStringList{"13812345678", "pw1", "pw1", "3", "5"}
        << regOrder << "1";
    QTest::newRow("register same user again")
        << "/foreuser_app/doregister/" << reg << QStringList{"13812345678", "pw1", "pw1", "3", "5"}
        << regOrder << "0";
}

void TestSchoolApi::accounts()
{
    QFETCH(QString, path);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, values);
    QFETCH(QList<int>, signOrder);
    QFETCH(QString, expectedFlag);

    SchoolClient fresh(school.apiUrl());
    fresh.login("13800000003", "newbie789");
    Params params{{"key", fresh.sid}};
    for (int i = 0; i < keys.size(); ++i) {
        params.append({keys.at(i), values.at(i)});
    }
    QStringList signedValues{fresh.sid};
    for (int index : signOrder) {
        signedValues.append(index < 0 ? QString("3") : values.at(index));
    }
    const QJsonObject answer = fresh.callJson(path, params, signedValues);
    QCOMPARE(flag(answer), expectedFlag);
    if (expectedFlag != "1") {
        QVERIFY(!answer.value("infos").toString().isEmpty());
    }
}

void TestSchoolApi::passwordChange()
{
    SchoolClient user(school.apiUrl());
    QVERIFY(user.login("13800000002", "kuaiji456"));
    auto change = [&](const QString& oldPwd, const QString& newPwd, const QString& repeat) {
        return user.callJson("/foreuser_app/doforget/",
                             {{"key", user.sid},
                              {"username", "13800000002"},
                              {"old_pwd", oldPwd},
                              {"new_pwd", newPwd},
                              {"new_repwd", repeat}},
                             {user.sid, newPwd, repeat, oldPwd, "3", "13800000002"});
    };
    QJsonObject answer = change("wrong", "next1", "next1");
    QCOMPARE(flag(answer), QString("0"));
    QVERIFY(!answer.value("infos").toString().isEmpty());
    answer = change("kuaiji456", "next1", "next2");
    QCOMPARE(flag(answer), QString("0"));
    QVERIFY(!answer.value("infos").toString().isEmpty());

    QCOMPARE(flag(change("kuaiji456", "next1", "next1")), QString("1"));
    SchoolClient again(school.apiUrl());
    QVERIFY(!again.login("13800000002", "kuaiji456"));
    QVERIFY(again.login("13800000002", "next1"));
    QCOMPARE(flag(change("next1", "kuaiji456", "kuaiji456")), QString("1"));
}

void TestSchoolApi::courseCallsNeedLogin()
{
    SchoolClient anonymous(school.apiUrl());
    anonymous.login("nobody", "nothing"); // fetches a session id, the login fails
    QVERIFY(!anonymous.sid.isEmpty());
    const QString sid = anonymous.sid;
    const QList<QPair<QString, QPair<Params, QStringList>>> calls = {
        {"/course_app/GetMyCourseList/", {{{"key", sid}}, {sid, "3"}}},
        {"/course_app/GetMyCourseInfoForPcDownLoad/",
         {{{"key", sid}, {"class_id", "101"}}, {"101", sid, "3"}}},
        {"/course_app/GetKeysAndUrlByLid/",
         {{{"key", sid}, {"class_id", "101"}, {"lesson_id", "1013"}, {"c_type", "1"}},
          {"1", "101", sid, "1013", "3"}}},
    };
    for (const auto& c : calls) {
        const QJsonObject answer = anonymous.callJson(c.first, c.second.first, c.second.second);
        QVERIFY2(flag(answer) != "1" && !flag(answer).isEmpty(), qPrintable(c.first));
        QVERIFY(!answer.value("infos").toString().isEmpty());
    }
    const SchoolClient::Reply page =
        anonymous.call("/course_app/GetMyCourseInfoForPc/", {{"key", sid}, {"class_id", "101"}},
                       {"101", sid, "3"});
    QVERIFY(!page.body.contains("初级会计实务精讲"));
}

void TestSchoolApi::courseAnswer_data()
{
    QTest::addColumn<QString>("classId");
    QTest::addColumn<bool>("asArray");
    QTest::newRow("list as array") << "101" << true;
    QTest::newRow("list as object, numbers as numbers") << "102" << false;
    QTest::newRow("array with two content types") << "103" << true;
}

void TestSchoolApi::courseAnswer()
{
    QFETCH(QString, classId);
    QFETCH(bool, asArray);
    const QByteArray body =
        client
            ->call("/course_app/GetMyCourseInfoForPcDownLoad/",
                   {{"key", client->sid}, {"class_id", classId}}, {classId, client->sid, "3"})
            .body;
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    QCOMPARE(flag(answer), QString("1"));
    const QJsonObject data = answer.value("data").toObject();
    const QJsonObject expected = seedCourse(classId);
    QCOMPARE(data.value("id").toString(), classId);
    QCOMPARE(data.value("title").toString(), expected.value("title").toString());
    QVERIFY(data.value("img").toString().startsWith(school.apiUrl() + "/img/"));

    const QJsonValue list = data.value("list");
    QCOMPARE(list.isArray(), asArray);
    QCOMPARE(list.isObject(), !asArray);
    QList<QJsonObject> lessons;
    if (asArray) {
        for (const QJsonValue& v : list.toArray()) {
            lessons.append(v.toObject());
        }
    } else {
        const QJsonObject object = list.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            lessons.append(it.value().toObject());
            QCOMPARE(it.key(), it.value().toObject().value("id").toVariant().toString());
        }
    }
    QCOMPARE(lessons.size(), expected.value("lessons").toArray().size());
    for (const QJsonObject& lesson : lessons) {
        for (const char* member :
             {"id", "number", "c_type", "type", "title", "c_time", "stutas", "watchtimes"}) {
            QVERIFY2(lesson.contains(member), member);
        }
        QVERIFY(!lesson.contains("media"));
    }
    // The order as sent (a decoded object would sort its keys).
    QList<int> numbers;
    QRegularExpressionMatchIterator it =
        QRegularExpression("\"number\":\"?(\\d+)").globalMatch(QString::fromUtf8(body));
    while (it.hasNext()) {
        numbers.append(it.next().captured(1).toInt());
    }
    QCOMPARE(numbers.size(), lessons.size());
    QList<int> sorted = numbers;
    std::sort(sorted.begin(), sorted.end());
    QVERIFY2(numbers != sorted, "the lessons must come out of order");

    if (classId == "101") {
        // The first user's remembered progress from the seed.
        bool found = false;
        for (const QJsonObject& lesson : lessons) {
            if (lesson.value("id").toString() == "1013") {
                QCOMPARE(lesson.value("stutas").toString(), QString("3"));
                QCOMPARE(lesson.value("watchtimes").toString(), QString("10"));
                found = true;
            }
        }
        QVERIFY(found);
    }
}

void TestSchoolApi::courseOfAnotherUserRefused()
{
    SchoolClient other(school.apiUrl());
    QVERIFY(other.login("13800000003", "newbie789"));
    const QJsonObject answer =
        other.callJson("/course_app/GetMyCourseInfoForPcDownLoad/",
                       {{"key", other.sid}, {"class_id", "101"}}, {"101", other.sid, "3"});
    QCOMPARE(flag(answer), QString("0"));
    QVERIFY(!answer.value("infos").toString().isEmpty());
    // The seed's course titles are all of one length, so their Latin-1 forms collide.
    QSet<QByteArray> latin1;
    for (const QJsonValue& c : seed.value("courses").toArray()) {
        latin1.insert(c.toObject().value("title").toString().toLatin1());
    }
    QCOMPARE(latin1.size(), 1);
}

void TestSchoolApi::learningStatusIsKept()
{
    SchoolClient user(school.apiUrl());
    QVERIFY(user.login("13800000002", "kuaiji456"));
    auto push = [&](const QString& stutas) {
        return user.callJson("/course_app/PushLearnStatus/",
                             {{"key", user.sid},
                              {"class_id", "103"},
                              {"lesson_id", "1033"},
                              {"stutas", stutas},
                              {"c_type", "1"}},
                             {"1", "103", user.sid, "1033", stutas, "3"});
    };
    QCOMPARE(flag(push("2")), QString("3"));
    QVERIFY(flag(push("7")) != "3");

    const QJsonObject course =
        user.callJson("/course_app/GetMyCourseInfoForPcDownLoad/",
                      {{"key", user.sid}, {"class_id", "103"}}, {"103", user.sid, "3"});
    QString status;
    for (const QJsonValue& v : course.value("data").toObject().value("list").toArray()) {
        if (v.toObject().value("id").toString() == "1033") {
            status = v.toObject().value("stutas").toString();
        }
    }
    QCOMPARE(status, QString("2"));

    const QJsonArray reports = school.stats().value("learnStatus").toArray();
    QVERIFY(!reports.isEmpty());
    const QJsonObject last = reports.last().toObject();
    QCOMPARE(last.value("username").toString(), QString("13800000002"));
    QCOMPARE(last.value("lesson_id").toString(), QString("1033"));
    QCOMPARE(last.value("stutas").toString(), QString("2"));
}

void TestSchoolApi::versionAnswerAndInstaller()
{
    auto check = [&](const QString& typeClient) {
        return client->callJson("/course_app/getPcUpdate/",
                                {{"key", client->sid}, {"type_client", typeClient}},
                                {client->sid, "3", typeClient});
    };
    const QJsonObject desktop = seed.value("desktop").toObject();
    QJsonObject answer = check("vospen_app");
    QCOMPARE(flag(answer), QString("1"));
    QJsonObject data = answer.value("data").toObject();
    QCOMPARE(data.value("meta_version").toString(), desktop.value("version").toString());
    QCOMPARE(data.value("meta_content").toString(), desktop.value("content").toString());
    const SchoolClient::Reply installer = client->get(data.value("meta_download_url").toString());
    QCOMPARE(installer.status, 200);
    QCOMPARE(installer.body.size(), desktop.value("installerSize").toInt());
    QVERIFY(installer.body.startsWith("MZ"));
    QCOMPARE(data.value("meta_sha256").toString(),
             QString(QCryptographicHash::hash(installer.body, QCryptographicHash::Sha256).toHex()));

    QVERIFY(flag(check("other_app")) != "1");

    QVERIFY(school.setDesktopVersion("1.1.10", "说明"));
    data = check("vospen_app").value("data").toObject();
    QCOMPARE(data.value("meta_version").toString(), QString("1.1.10"));
    QCOMPARE(data.value("meta_content").toString(), QString("说明"));
    QVERIFY(school.setDesktopVersion(desktop.value("version").toString(),
                                     desktop.value("content").toString()));
}

void TestSchoolApi::pages()
{
    const QJsonObject list = client->callJson("/course_app/GetMyCourseList/",
                                              {{"key", client->sid}}, {client->sid, "3"});
    const QString url = list.value("data").toObject().value("url").toString();
    QVERIFY(url.startsWith(school.apiUrl()));
    const QString query =
        "/?key=" + client->sid + "&sign=" + SchoolClient::sign({client->sid, "3"});

    // As the client's page signer makes it, and once more for an address ending in '/'.
    for (const QString& address : QStringList{url + query, url + "/" + query}) {
        const SchoolClient::Reply page = client->get(address);
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("/static/school.js"));
        for (const char* title : {"初级会计实务精讲", "经济法基础冲刺班", "财务管理高频考点"}) {
            QVERIFY2(page.body.contains(title), title);
        }
        QVERIFY(!page.body.contains("性能测试专用课程"));
    }
    QCOMPARE(client->get(url + "/?key=" + client->sid + "&sign=0123").status, 403);

    const SchoolClient::Reply script = client->get(school.apiUrl() + "/static/school.js");
    QCOMPARE(script.status, 200);
    for (const char* call : {"'skipToList'", "'skipToVideo'", "'getMyCourseInfo'", "FormMyClass"}) {
        QVERIFY2(script.body.contains(call), call);
    }

    const SchoolClient::Reply course =
        client->call("/course_app/GetMyCourseInfoForPc/",
                     {{"key", client->sid}, {"class_id", "102"}}, {"102", client->sid, "3"});
    QCOMPARE(course.status, 200);
    QVERIFY(course.body.contains("试用期与工资"));
    QVERIFY(!course.body.contains("会计要素讲解")); // a lesson of another course

    // Pictures are JPEG files.
    for (const QString& picture : QStringList{school.apiUrl() + "/img/course/101.jpg",
                                              school.apiUrl() + "/img/avatar/1001.jpg"}) {
        const SchoolClient::Reply image = client->get(picture);
        QCOMPARE(image.status, 200);
        QVERIFY(image.body.startsWith("\xFF\xD8\xFF"));
    }
}

void TestSchoolApi::helpAndBadArguments()
{
    ChildProcess help;
    help.start(SchoolProcess::executable(), {"--help"});
    QVERIFY(help.waitForFinished(10000));
    const QByteArray text = help.readAllStandardOutput();
    for (const char* option : {"--api-port", "--key-port", "--seed", "--media", "--fault"}) {
        QVERIFY2(text.contains(option), option);
    }

    SchoolProcess badFault({"--fault", "/img/*,colour=blue"});
    QVERIFY(!badFault.start(10000));
    QVERIFY(!badFault.isRunning());

    // The API port of the running school is taken.
    const QString port = school.apiUrl().section(':', 2);
    ChildProcess clash;
    clash.start(SchoolProcess::executable(),
                {"--api-port", port, "--key-port", "0", "--media", SchoolProcess::mediaDir()});
    QVERIFY(clash.waitForFinished(10000));
    QVERIFY(clash.exitCode() != 0);
}

QTEST_GUILESS_MAIN(TestSchoolApi)
#include "tst_schoolapi.moc"

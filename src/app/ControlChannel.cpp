#include "ControlChannel.h"

#include "App.h"
#include "CourseInfo.h"
#include "CourseItem.h"
#include "CourseRecord.h"
#include "Downloader.h"
#include "FormLoginin.h"
#include "FormMyClass.h"
#include "FormUser.h"
#include "MainForm.h"
#include "SettingKeys.h"
#include "UserRecord.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPushButton>
#include <QTimer>

namespace {

// A command line longer than this is no command of the driver's.
constexpr qint64 maxLine = 64 * 1024;
// How long the course page may take to bring up the download dialog.
constexpr int dialogWaitMs = 20000;

QStringList strings(const QJsonValue& value)
{
    QStringList out;
    for (const QJsonValue& item : value.toArray()) {
        out << item.toString();
    }
    return out;
}

QJsonObject lessonJson(const LessonRecord& lesson)
{
    return QJsonObject{{QStringLiteral("course"), lesson.courseId},
                       {QStringLiteral("id"), lesson.id},
                       {QStringLiteral("title"), lesson.title},
                       {QStringLiteral("level"), lesson.level},
                       {QStringLiteral("state"), lesson.state},
                       {QStringLiteral("dir"), lesson.dir},
                       {QStringLiteral("paused"), lesson.paused},
                       {QStringLiteral("failReason"), lesson.failReason}};
}

} // namespace

ControlChannel::ControlChannel(App* app, MainForm* window, QObject* parent)
    : QObject(parent), app(app), window(window)
{
    XMessageBox::setResponder([this](XMessageBox& box) {
        tell(QStringLiteral("box"), box.text());
        return true;
    });
    Downloader* downloader = app->downloader();
    connect(downloader, &Downloader::recordDamaged, this, [this](const QString& message) {
        ++damaged;
        tell(QStringLiteral("record"), message);
    });
    connect(downloader, &Downloader::storageFailed, this,
            [this](const QString& message) { tell(QStringLiteral("storage"), message); });
    connect(window, &MainForm::told, this,
            [this](const QString& text) { tell(QStringLiteral("tray"), text); });
}

ControlChannel::~ControlChannel()
{
    XMessageBox::setResponder(nullptr);
}

bool ControlChannel::listen(const QString& path)
{
    QLocalServer::removeServer(path);
    server = new QLocalServer(this);
    // Only this user may drive the program.
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        qWarning() << "control channel: cannot listen at" << path << server->errorString();
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &ControlChannel::onConnection);
    return true;
}

void ControlChannel::onConnection()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadable(socket); });
    }
}

void ControlChannel::onReadable(QLocalSocket* socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(maxLine);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (!document.isObject()) {
            reply(socket, {{QStringLiteral("ok"), false},
                           {QStringLiteral("error"), QStringLiteral("not a JSON object")}});
            continue;
        }
        handle(socket, document.object());
    }
    if (socket->bytesAvailable() > maxLine) {
        socket->abort();
    }
}

void ControlChannel::reply(QLocalSocket* socket, QJsonObject answer)
{
    if (!answer.contains(QLatin1String("ok"))) {
        answer.insert(QStringLiteral("ok"), true);
    }
    socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
    socket->flush();
}

void ControlChannel::handle(QLocalSocket* socket, const QJsonObject& command)
{
    Downloader* downloader = app->downloader();
    const QString op = command.value(QLatin1String("op")).toString();
    const QString dir = command.value(QLatin1String("dir")).toString();
    const bool on = command.value(QLatin1String("on")).toBool();
    if (op == QLatin1String("ping")) {
        reply(socket, {{QStringLiteral("pid"), QCoreApplication::applicationPid()}});
    } else if (op == QLatin1String("state")) {
        reply(socket, state());
    } else if (op == QLatin1String("login")) {
        login(command.value(QLatin1String("user")).toString(),
              command.value(QLatin1String("password")).toString());
        reply(socket, {});
    } else if (op == QLatin1String("logout")) {
        QMetaObject::invokeMethod(window, "loingout");
        reply(socket, {});
    } else if (op == QLatin1String("choose")) {
        choose(socket, command.value(QLatin1String("course")).toString(),
               strings(command.value(QLatin1String("lessons"))));
    } else if (op == QLatin1String("start")) {
        downloader->setStart(on);
        reply(socket, {});
    } else if (op == QLatin1String("hold")) {
        downloader->setLessonPaused(dir, on);
        reply(socket, {});
    } else if (op == QLatin1String("first")) {
        downloader->prioritize(dir);
        reply(socket, {});
    } else if (op == QLatin1String("retry")) {
        downloader->retryLesson(dir);
        reply(socket, {});
    } else if (op == QLatin1String("deleteLessons")) {
        downloader->deleteLessons(strings(command.value(QLatin1String("dirs"))));
        reply(socket, {});
    } else if (op == QLatin1String("deleteCourses")) {
        downloader->deleteDownloaded(strings(command.value(QLatin1String("dirs"))));
        reply(socket, {});
    } else if (op == QLatin1String("rate")) {
        app->setSetting(SettingKeys::rateLimit, command.value(QLatin1String("kb")).toString());
        reply(socket, {});
    } else {
        reply(socket, {{QStringLiteral("ok"), false},
                       {QStringLiteral("error"), QString(QStringLiteral("unknown op: ") + op)}});
    }
}

void ControlChannel::login(const QString& user, const QString& password)
{
    window->showLogin();
    FormLoginin* page = window->userForm()->loginPage();
    page->nameBox()->setCurrentText(user);
    page->passwordBox()->setText(password);
    page->loginButton()->click();
}

void ControlChannel::choose(QLocalSocket* socket, const QString& courseId,
                            const QStringList& lessons)
{
    FormMyClass* page = window->myClassPage();
    const int toldBefore = toldTotal;
    page->getMyCourseInfo(courseId);
    auto* poll = new QTimer(this);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QPointer<QLocalSocket> asker(socket);
    connect(poll, &QTimer::timeout, this, [=] {
        CourseInfo* dialog = nullptr;
        for (CourseInfo* candidate : page->findChildren<CourseInfo*>()) {
            if (candidate->isVisible()) {
                dialog = candidate;
            }
        }
        if (!dialog) {
            // No dialog yet: the answer may still come, or a box has told why none will.
            if (toldTotal > toldBefore || clock->elapsed() > dialogWaitMs) {
                poll->deleteLater();
                if (asker) {
                    reply(asker, {{QStringLiteral("ok"), false},
                                  {QStringLiteral("error"), QStringLiteral("no dialog")}});
                }
            }
            return;
        }
        poll->deleteLater();
        QJsonArray chosen;
        for (CourseItem* row : dialog->rows()) {
            const LessonRecord& lesson = dialog->record().list.at(row->lessonIndex());
            if (lessons.contains(lesson.id) && row->checkBox()->isEnabled()) {
                row->checkBox()->setChecked(true);
                chosen.append(lesson.id);
            }
        }
        if (chosen.isEmpty()) {
            dialog->cancelButton()->click();
        } else {
            dialog->downloadButton()->click();
        }
        if (asker) {
            reply(asker, {{QStringLiteral("chosen"), chosen}});
        }
    });
    poll->start(100);
}

QJsonObject ControlChannel::state() const
{
    const Downloader* downloader = app->downloader();
    QJsonArray courses;
    for (const CourseRecord& course : downloader->courses()) {
        QJsonArray lessons;
        for (const LessonRecord& lesson : course.list) {
            lessons.append(lessonJson(lesson));
        }
        courses.append(QJsonObject{{QStringLiteral("id"), course.id},
                                   {QStringLiteral("dir"), course.dir},
                                   {QStringLiteral("lessons"), lessons}});
    }
    QJsonArray queue;
    for (const LessonRecord& lesson : downloader->queue()) {
        QJsonObject item = lessonJson(lesson);
        item.insert(QStringLiteral("waiting"), downloader->isWaiting(lesson.dir));
        queue.append(item);
    }
    return QJsonObject{{QStringLiteral("login"), app->isLogin()},
                       {QStringLiteral("user"), app->session().username},
                       {QStringLiteral("running"), downloader->isStart()},
                       {QStringLiteral("inFlight"), downloader->currentLesson()},
                       {QStringLiteral("courses"), courses},
                       {QStringLiteral("queue"), queue},
                       {QStringLiteral("damaged"), damaged},
                       {QStringLiteral("told"), told}};
}

void ControlChannel::tell(const QString& where, const QString& text)
{
    ++toldTotal;
    told.append(QJsonObject{{QStringLiteral("where"), where}, {QStringLiteral("text"), text}});
    // The driver reads the newest; a long life keeps only so many.
    while (told.size() > 200) {
        told.removeFirst();
    }
}

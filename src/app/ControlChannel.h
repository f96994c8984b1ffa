#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>

class App;
class MainForm;
class QLocalServer;
class QLocalSocket;

// A local socket through which a test driver works the running program the way a student
// does: the login form, the course page's download dialog, the operations of the download
// page, the settings; and reads back the record, the queue and what the program told. One
// JSON object a line each way. Only test builds have it (TAMIX_CONTROL): the released
// program opens no such door.
//
// Every message box is answered with OK, as a student clicking through would, and its text
// kept for the driver.
class ControlChannel : public QObject
{
    Q_OBJECT
public:
    ControlChannel(App* app, MainForm* window, QObject* parent = nullptr);
    ~ControlChannel() override;

    // Listens at `path` (a file-system path for the local socket); false when it cannot.
    bool listen(const QString& path);

private:
    void onConnection();
    void onReadable(QLocalSocket* socket);
    void handle(QLocalSocket* socket, const QJsonObject& command);
    static void reply(QLocalSocket* socket, QJsonObject answer);
    // Opens the course's download dialog through the course page, ticks `lessons` (ids) and
    // presses "下载选中"; answers once that is done or has failed.
    void choose(QLocalSocket* socket, const QString& courseId, const QStringList& lessons);
    void login(const QString& user, const QString& password);
    QJsonObject state() const;
    void tell(const QString& where, const QString& text);

    App* app;
    MainForm* window;
    QLocalServer* server = nullptr;
    // What the program told the student, the newest 200, oldest first; how many in all; and
    // how many record damages.
    QJsonArray told;
    int toldTotal = 0;
    int damaged = 0;
};

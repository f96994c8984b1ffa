// The my-classes page in the real main window against the stand-in school: the time from
// Login(true) to the course page finished loading (the first login also starts the web
// engine), and the memory of this process with all its web-engine processes once the page is
// loaded (sum of PSS from /proc/PID/smaps_rollup). Run it as
//   QTWEBENGINE_DISABLE_SANDBOX=1 xvfb-run -a -s "-screen 0 1920x1080x24"
//       build/bench/pages/bench_myclass 11 [--tls]
// --tls: the school speaks HTTPS only, its test CA trusted by the client and the web view.
#include "App.h"
#include "BenchSupport.h"
#include "CourseLibrary.h"
#include "FormMyClass.h"
#include "MainForm.h"
#include "SchoolProcess.h"
#include "SchoolWebView.h"
#include "TlsTrust.h"
#include "UserRecord.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const bool tls = arguments.contains(QStringLiteral("--tls"));
    int runs = 11;
    for (const QString& argument : arguments) {
        runs = argument.toInt() > 0 ? argument.toInt() : runs;
    }

    QStandardPaths::setTestModeEnabled(true);
    WebPanel::setFactory(tamixCreateWebPanel);
    QTemporaryDir docs;
    QTemporaryDir videos;
    SchoolProcess school;
    school.setTls(tls ? SchoolProcess::Tls::Trusted : SchoolProcess::Tls::None);
    // The web engine starts with the main window, after the CA is known.
    if (!school.start() || (tls && !TlsTrust::addCaForTests(school.caFile())) ||
        !school.bindSession(QStringLiteral("bench-web"), QStringLiteral("13800000001"))) {
        std::fprintf(stderr, "the school did not start: %s\n", qPrintable(school.errorString()));
        return 1;
    }
    school.pointClientHere();
    qputenv("TAMIX_DOCUMENTS_DIR", docs.path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", videos.path().toUtf8());
    application.setStyleSheet(App::instance()->styleSheet());

    int code = 0;
    {
        MainForm window;
        window.show();
        waitFor([] { return false; }, 300);
        UserRecord session;
        session.sid = QStringLiteral("bench-web");
        session.username = QStringLiteral("13800000001");
        App::instance()->library()->setSession(session);

        FormMyClass* page = window.myClassPage();
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            int finished = 0;
            bool ok = false;
            const QMetaObject::Connection watch =
                QObject::connect(page, &FormMyClass::pageLoaded, [&](bool value) {
                    ++finished;
                    ok = value;
                });
            QElapsedTimer clock;
            clock.start();
            App::instance()->setLogin(true);
            const bool loaded = 0 <= waitFor([&] { return finished > 0; });
            const double ms = clock.nsecsElapsed() / 1e6;
            QObject::disconnect(watch);
            if (!loaded || !ok) {
                std::fprintf(stderr, "login %d: the page did not load\n", i + 1);
                code = 1;
                break;
            }
            times.push_back(ms);
        }
        if (!times.empty()) {
            std::printf("Login(true) to page loaded over %s: first (web engine start) %.0f ms, "
                        "median of %zu %.0f ms (target < 800)\n",
                        tls ? "HTTPS" : "HTTP", times.front(), times.size(), median(times));
            waitFor([] { return false; }, 1000); // let the renderer settle
            // The stand-in school is a child of this program, not part of the client.
            QList<qint64> tree = processTree(QCoreApplication::applicationPid());
            for (qint64 pid : processTree(school.processId())) {
                tree.removeAll(pid);
            }
            qint64 total = 0;
            for (qint64 pid : tree) {
                const qint64 kb = pssKB(pid);
                QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
                cmd.open(QIODevice::ReadOnly);
                const QList<QByteArray> args = cmd.readAll().split('\0');
                QByteArray type;
                for (const QByteArray& arg : args) {
                    type = arg.startsWith("--type=") ? arg : type;
                }
                std::printf("  %lld %-28s %.1f MB\n", static_cast<long long>(pid),
                            (QFileInfo(QString::fromLocal8Bit(args.value(0))).fileName() +
                             QLatin1Char(' ') + QString::fromLatin1(type))
                                .toLocal8Bit()
                                .constData(),
                            kb / 1024.0);
                total += kb;
            }
            std::printf("memory: %lld processes, PSS %.1f MB (target < 300)\n",
                        static_cast<long long>(tree.size()), total / 1024.0);
        }
    }
    if (App::exists()) {
        delete App::instance();
    }
    return code;
}

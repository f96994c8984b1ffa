// Memory along the student's road in the real client against the stand-in school: log in,
// the course page, one lesson downloaded and played from the store; the PSS of the client and
// its web-engine processes after it, and again after 20 (or argv[1]) more openings and closings of
// the player (BENCH_ROAD_TRACE=1 prints every cycle, with the client's own share); then with a
// player open over the hidden course page, frozen and then discarded, and once the page is shown
// again. Run it as
//   QTWEBENGINE_DISABLE_SANDBOX=1 xvfb-run -a -s "-screen 0 1920x1080x24"
//       build/bench/app/bench_road
#include "App.h"
#include "BenchSupport.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "FormLoginin.h"
#include "FormMyClass.h"
#include "FormPlayer.h"
#include "FormUser.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "MainForm.h"
#include "MpvController.h"
#include "SchoolProcess.h"
#include "SchoolWebView.h"
#include "SystemServices.h"
#include "URLManager.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

static void closePlayer(FormPlayer* player);

// A player opened on the stored lesson in `dir`, once its first frame is there; null when it
// did not start.
static FormPlayer* startPlayer(const QString& dir)
{
    FormPlayer* player = App::instance()->openPlayer(QStringLiteral("bench"));
    bool started = false;
    QObject::connect(player->controller(), &MpvController::started, [&started] { started = true; });
    player->playLocal(dir);
    const bool ok = waitFor([&started] { return started; }, 15000) >= 0;
    waitFor([] { return false; }, 200);
    if (!ok) {
        closePlayer(player);
        return nullptr;
    }
    return player;
}

static void closePlayer(FormPlayer* player)
{
    player->close();
    waitFor([] { return false; }, 50);
    // This program runs no event loop of its own, so objects left for deletion are deleted
    // here, as the client's loop would.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

static bool playOnce(const QString& dir)
{
    FormPlayer* player = startPlayer(dir);
    if (player) {
        closePlayer(player);
    }
    return player;
}

int main(int argc, char* argv[])
{
    // As the client's own main starts.
    SystemServices::setUpHeap();
    QApplication application(argc, argv);
    // The number of openings after the road; 20 unless given.
    const int cycles = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 20;
    QStandardPaths::setTestModeEnabled(true);
    WebPanel::setFactory(tamixCreateWebPanel);
    qputenv("TAMIX_MPV_OPTIONS", "ao=null,hwdec=no");
    QTemporaryDir docs;
    QTemporaryDir videos;
    SchoolProcess school;
    if (!school.start()) {
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
        App* app = App::instance();
        waitFor([app] { return !app->library()->sid().isEmpty(); }, 10000);
        FormLoginin* login = window.userForm()->loginPage();
        login->nameBox()->setCurrentText(QStringLiteral("13800000001"));
        login->passwordBox()->setText(QStringLiteral("tamix123"));
        bool loaded = false;
        QObject::connect(window.myClassPage(), &FormMyClass::pageLoaded,
                         [&loaded](bool ok) { loaded = loaded || ok; });
        login->loginButton()->click();
        waitFor([&] { return loaded; });

        HttpHelper http(nullptr, true);
        CourseRecord course(
            JsonHelper::parse(http.getSync(app->urlManager()->getMyCourseInfoForPcDownLoadUrl(
                                  QStringLiteral("103"))))
                .getObject(QStringLiteral("data")),
            *app->urlManager());
        for (LessonRecord& lesson : course.list) {
            lesson.state = lesson.id == QLatin1String("1034") ? Chosen : NotChosen;
        }
        app->downloader()->addCourse(course);
        waitFor([app] { return app->downloader()->queue().isEmpty(); }, 60000);
        const std::optional<CourseRecord> stored = app->downloader()->findCourse(course.id);
        QString dir;
        for (const LessonRecord& lesson : stored ? stored->list : QList<LessonRecord>()) {
            dir = lesson.state == Complete ? lesson.dir : dir;
        }
        if (!loaded || dir.isEmpty() || !playOnce(dir)) {
            std::fprintf(stderr, "the road did not get through (page %d, lesson %s)\n", loaded,
                         qPrintable(dir));
            code = 1;
        } else {
            waitFor([] { return false; }, 1000);
            const qint64 afterRoad =
                treePssKB(QCoreApplication::applicationPid(), school.processId());
            const qint64 clientAfterRoad = pssKB(QCoreApplication::applicationPid());
            int played = 0;
            for (int i = 0; i < cycles; ++i) {
                played += playOnce(dir) ? 1 : 0;
                if (qEnvironmentVariableIsSet("BENCH_ROAD_TRACE")) {
                    std::printf("  cycle %d: %.1f MB (client %.1f MB)\n", i + 1,
                                treePssKB(QCoreApplication::applicationPid(), school.processId()) /
                                    1024.0,
                                pssKB(QCoreApplication::applicationPid()) / 1024.0);
                }
            }
            waitFor([] { return false; }, 1000);
            const qint64 afterCycles =
                treePssKB(QCoreApplication::applicationPid(), school.processId());
            const qint64 clientAfterCycles = pssKB(QCoreApplication::applicationPid());
            std::printf("top-level widgets: %d\n", int(QApplication::topLevelWidgets().size()));
            std::printf("after the road: PSS %.1f MB (target < 350)\n", afterRoad / 1024.0);
            std::printf("after %d more player openings (%d played): PSS %.1f MB, growth %.1f MB "
                        "(target < 10)\n",
                        cycles, played, afterCycles / 1024.0, (afterCycles - afterRoad) / 1024.0);
            std::printf("  of which the client process: %.1f MB, then %.1f MB\n",
                        clientAfterRoad / 1024.0, clientAfterCycles / 1024.0);

            // The course page out of sight: the download manager in front and a lesson
            // playing over it. Frozen at once; discarded once its delay has passed, which
            // stands at ten minutes and is shortened here.
            WebPanel* page = window.myClassPage()->view();
            const QUrl address = page->url();
            window.showDownloadForm();
            if (FormPlayer* player = startPlayer(dir)) {
                waitFor([] { return false; }, 1000);
                const bool frozen = page->lifecycle() == WebPanel::Lifecycle::Frozen;
                const qint64 frozenPss =
                    treePssKB(QCoreApplication::applicationPid(), school.processId());
                page->setDiscardDelay(500);
                const bool discarded =
                    waitFor([page] { return page->lifecycle() == WebPanel::Lifecycle::Discarded; },
                            10000) >= 0;
                waitFor([] { return false; }, 1500);
                const qint64 hidden =
                    treePssKB(QCoreApplication::applicationPid(), school.processId());
                closePlayer(player);
                loaded = false;
                window.showMyClassForm();
                waitFor([&] { return loaded; });
                waitFor([] { return false; }, 1000);
                const qint64 shown =
                    treePssKB(QCoreApplication::applicationPid(), school.processId());
                std::printf("hidden page with player, frozen%s: PSS %.1f MB\n",
                            frozen ? "" : " (NOT frozen)", frozenPss / 1024.0);
                std::printf("hidden page with player: PSS %.1f MB (target < 230)%s\n",
                            hidden / 1024.0, discarded ? "" : " (page NOT discarded)");
                std::printf("page shown again%s: PSS %.1f MB (target < 300)\n",
                            page->url() == address && loaded ? "" : " (NOT back at its address)",
                            shown / 1024.0);
            } else {
                std::fprintf(stderr, "the player did not start over the hidden page\n");
                code = 1;
            }
        }
    }
    if (App::exists()) {
        delete App::instance();
    }
    return code;
}

#include "ScreenshotTour.h"

#include "App.h"
#include "BaseDialog.h"
#include "BookmarkPanel.h"
#include "BookmarkStore.h"
#include "CourseInfo.h"
#include "Downloaded.h"
#include "Downloading.h"
#include "FormCourseware.h"
#include "FormDownload.h"
#include "FormLoginin.h"
#include "FormMaskBtn.h"
#include "FormMyClass.h"
#include "FormPlayer.h"
#include "FormThumbnail.h"
#include "FormUpgrade.h"
#include "FormUser.h"
#include "MainForm.h"
#include "MpvController.h"
#include "MpvWidget.h"
#include "URLManager.h"
#include "WebPanel.h"
#include "XMessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>

const QStringList ScreenshotTour::views = {
    QStringLiteral("main"),        QStringLiteral("myclass"),    QStringLiteral("selection"),
    QStringLiteral("downloading"), QStringLiteral("downloaded"), QStringLiteral("courseware"),
    QStringLiteral("player"),      QStringLiteral("settings"),   QStringLiteral("upgrade"),
    QStringLiteral("failed"),      QStringLiteral("waiting"),    QStringLiteral("folder"),
    QStringLiteral("fullscreen"),  QStringLiteral("countdown"),  QStringLiteral("bookmarks"),
    QStringLiteral("watched"),     QStringLiteral("message")};

namespace {
constexpr int tickMs = 100;
constexpr int giveUpTicks = 300; // 30 s for any one stage
constexpr int settleTicks = 5;   // a moment to paint before the picture
} // namespace

ScreenshotTour::ScreenshotTour(MainForm* window, const QString& view, const QString& file,
                               const QString& login)
    : QObject(window), window(window), view(view), file(file), login(login)
{
    poll = new QTimer(this);
    poll->setInterval(tickMs);
    connect(poll, &QTimer::timeout, this, &ScreenshotTour::step);
}

void ScreenshotTour::start()
{
    if (view == QLatin1String("main")) {
        QTimer::singleShot(300, this, [this] { save(window); });
        return;
    }
    if (view == QLatin1String("folder")) {
        // The settings dialog, then its folder chooser: the toolkit's own dialog, in Chinese.
        QTimer::singleShot(300, this, [this] {
            auto* settings = qobject_cast<BaseDialog*>(QApplication::activeModalWidget());
            auto* change = settings
                               ? settings->findChild<QPushButton*>(QStringLiteral("btnChangeDir"))
                               : nullptr;
            if (!change) {
                fail("the settings did not open");
                return;
            }
            QTimer::singleShot(600, this, [this] {
                QWidget* chooser = QApplication::activeModalWidget();
                if (chooser && !qobject_cast<BaseDialog*>(chooser)) {
                    save(chooser);
                } else {
                    fail("the folder chooser did not open");
                }
            });
            change->click();
        });
        QMetaObject::invokeMethod(window, "showSetForm", Qt::QueuedConnection);
        return;
    }
    if (view == QLatin1String("message")) {
        // The window's own message box, over the main window it belongs to.
        QTimer::singleShot(300, this, [this] {
            auto* box = qobject_cast<XMessageBox*>(QApplication::activeModalWidget());
            if (box) {
                save(box);
            } else {
                fail("the message box did not open");
            }
        });
        QTimer::singleShot(0, this, [this] {
            XMessageBox(QStringLiteral("当前已经是最新版本"), true, window).showAndWait();
        });
        return;
    }
    if (view == QLatin1String("settings") || view == QLatin1String("upgrade")) {
        // Both run modally; the picture is taken from inside their loop.
        QTimer::singleShot(300, this, [this] {
            auto* dialog = qobject_cast<BaseDialog*>(QApplication::activeModalWidget());
            if (dialog) {
                save(dialog);
            } else {
                fail("the dialog did not open");
            }
        });
        if (view == QLatin1String("settings")) {
            QMetaObject::invokeMethod(window, "showSetForm", Qt::QueuedConnection);
        } else {
            // What an answer offering 1.2.0 opens; the school serves its installer slowly.
            QTimer::singleShot(0, this, [this] {
                App* app = App::instance();
                if (!app) {
                    return;
                }
                FormUpgrade upgrade(
                    QStringLiteral("1.2.0"),
                    QStringLiteral("1. 播放器支持倍速播放\n2. 下载管理显示缓存进度\n"
                                   "3. 修复若干已知问题"),
                    app->urlManager()->siteUrl() + QStringLiteral("/download/tamix-setup.exe"),
                    QString());
                upgrade.run();
            });
        }
        return;
    }
    FormLoginin* page = window->userForm()->loginPage();
    page->nameBox()->setCurrentText(login.section(QLatin1Char(':'), 0, 0));
    page->passwordBox()->setText(login.section(QLatin1Char(':'), 1));
    connect(window->myClassPage(), &FormMyClass::pageLoaded, this, [this](bool ok) {
        if (stage == 0 && ok) {
            stage = 1;
            ticks = 0;
        }
    });
    page->loginButton()->click();
    poll->start();
}

void ScreenshotTour::step()
{
    if (++ticks > giveUpTicks) {
        fail("the view did not come");
        return;
    }
    switch (stage) {
    case 0: // the course page is loading
        break;
    case 1: // loaded; let it paint
        if (ticks < settleTicks) {
            break;
        }
        if (view == QLatin1String("myclass")) {
            poll->stop();
            save(window);
            return;
        }
        window->myClassPage()->view()->runJavaScript(
            QStringLiteral("document.querySelector('[id^=\"download-\"]').click()"), {});
        stage = 2;
        ticks = 0;
        break;
    case 2: // the selection dialog runs modally; this timer still ticks in its loop
        if (auto* dialog = qobject_cast<CourseInfo*>(QApplication::activeModalWidget())) {
            if (ticks < settleTicks) {
                break;
            }
            if (view == QLatin1String("selection")) {
                poll->stop();
                save(dialog);
                return;
            }
            // Everything of the course, and on to the download manager.
            dialog->checkAllBox()->click();
            dialog->downloadButton()->click();
            window->showDownloadForm();
            if (onDownloadingTab()) {
                window->downloadForm()->downloadingTab()->click();
            }
            stage = 3;
            ticks = 0;
        }
        break;
    case 3: { // downloads run: a tile with progress, or a course downloaded
        FormDownload* page = window->downloadForm();
        const QList<FormThumbnail*> shown = onDownloadingTab() ? page->downloadingList()->tileList()
                                                               : page->downloadedList()->tileList();
        const bool ready =
            std::any_of(shown.begin(), shown.end(), [this](const FormThumbnail* tile) {
                if (view == QLatin1String("failed")) {
                    return tile->mode == FormThumbnail::LessonFailed;
                }
                if (view == QLatin1String("waiting")) {
                    return tile->overlay() &&
                           tile->overlay()->currentState() == FormMaskBtn::Stalled &&
                           tile->overlay()->size > 0;
                }
                return view != QLatin1String("downloading") ||
                       (tile->mode == FormThumbnail::LessonProgress && tile->overlay()->size > 0);
            });
        // The countdown needs a next lesson on the computer: a course with two.
        const bool twoLessons =
            view != QLatin1String("countdown") ||
            std::any_of(shown.begin(), shown.end(),
                        [](const FormThumbnail* tile) { return tile->doneCount >= 2; });
        if (!ready || !twoLessons) {
            break;
        }
        if (view == QLatin1String("courseware") || playerView()) {
            window->showCourseware(shown.first()->courseId);
        }
        stage = 4;
        // Progress moves on: a tick to paint it is enough.
        ticks = onDownloadingTab() ? settleTicks - 1 : 0;
        break;
    }
    case 4:
        if (ticks < settleTicks) {
            break;
        }
        if (!playerView()) {
            poll->stop();
            save(window);
            return;
        }
        // The first downloaded lesson of the course, pressed as a student does.
        if (FormThumbnail* lesson = window->coursewareForm()->tileList().value(0)) {
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(lesson->picture(), &press);
        }
        stage = 5;
        ticks = 0;
        break;
    case 5: // the lesson plays from the store
        if (FormPlayer* player = App::exists() ? App::instance()->player() : nullptr) {
            if (player->controller()->position() >= 2000) {
                if (view == QLatin1String("fullscreen")) {
                    // Full screen, and the mouse moved over the video: the bars come back.
                    QMetaObject::invokeMethod(player, "normalFullScreen");
                    // What a window manager does with a full-screen window; Xvfb has none.
                    player->setGeometry(player->screen()->geometry());
                    stage = 6;
                    ticks = 0;
                    break;
                }
                if (view == QLatin1String("countdown") || view == QLatin1String("watched")) {
                    // On to the lesson's end.
                    player->controller()->seek(player->controller()->duration() - 300);
                    stage = 7;
                    ticks = 0;
                    break;
                }
                if (view == QLatin1String("bookmarks")) {
                    // Two marks with their notes, and a third being written.
                    const QString cid = player->currentCourse()->id;
                    const QString lid = player->currentLesson()->id;
                    player->bookmarks()->add(cid, lid, 1, QStringLiteral("会计要素的定义"));
                    player->bookmarks()->add(cid, lid, 5, QStringLiteral("例题：资产与负债"));
                    player->addBookmark();
                    player->bookmarkPanel()->editor()->setText(QStringLiteral("考前再看一遍"));
                    stage = 6;
                    ticks = settleTicks + 1;
                    break;
                }
                poll->stop();
                save(player);
            }
        }
        break;
    case 7: // the end of the lesson: the countdown to the next
        if (FormPlayer* player = App::exists() ? App::instance()->player() : nullptr) {
            if (!player->endText().isEmpty() && ticks >= settleTicks) {
                if (view == QLatin1String("countdown")) {
                    poll->stop();
                    save(player);
                    return;
                }
                const QString cid = player->currentCourse()->id;
                player->close();
                window->showCourseware(cid);
                stage = 8;
                ticks = 0;
            }
        }
        break;
    case 8: // the courseware page again, with the lesson learnt
        if (ticks >= settleTicks) {
            poll->stop();
            save(window);
        }
        break;
    case 6:
        if (FormPlayer* player = App::exists() ? App::instance()->player() : nullptr) {
            if (ticks == settleTicks) {
                QWidget* video = player->videoWidget();
                const QPoint at = video->rect().center();
                QMouseEvent move(QEvent::MouseMove, at, video->mapToGlobal(at), Qt::NoButton,
                                 Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(video, &move);
            } else if (ticks == 2 * settleTicks) {
                poll->stop();
                save(player);
            }
        }
        break;
    }
}

bool ScreenshotTour::playerView() const
{
    return view == QLatin1String("player") || view == QLatin1String("fullscreen") ||
           view == QLatin1String("countdown") || view == QLatin1String("bookmarks") ||
           view == QLatin1String("watched");
}

bool ScreenshotTour::onDownloadingTab() const
{
    return view == QLatin1String("downloading") || view == QLatin1String("failed") ||
           view == QLatin1String("waiting");
}

void ScreenshotTour::save(QWidget* widget)
{
    const bool saved = widget->grab().save(file);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(file));
    std::fflush(stdout);
    QCoreApplication::exit(saved ? 0 : 1);
}

void ScreenshotTour::fail(const char* why)
{
    poll->stop();
    std::printf("no picture of %s: %s\n", qPrintable(view), why);
    std::fflush(stdout);
    QCoreApplication::exit(1);
}

// The yardstick of the start-up benchmark: an empty window of the client's size under the
// client's style sheet, with the same high-DPI settings, shown and painted once, then gone.
// With --screen it also holds what the client's first screen shows, by the sheet's names: the
// title bar's logo and buttons, the login form, the bar's buttons, with their texts and
// pictures but without the program behind them. What showing that screen costs on its own.
#include "SystemServices.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

class FirstPaint : public QObject
{
protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, [] {
                std::printf("shown cpu %.1f ms\n", SystemServices::processCpuMs());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool seen = false;
};

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication application(argc, argv);
    QFile style(QStringLiteral(":/vospen/vospen/vospen.css"));
    if (style.open(QIODevice::ReadOnly)) {
        application.setStyleSheet(QString::fromUtf8(style.readAll()));
    }
    QWidget window;
    window.resize(1210, 720);
    if (application.arguments().contains(QStringLiteral("--screen"))) {
        auto* layout = new QVBoxLayout(&window);
        const auto add = [layout](QWidget* widget, const char* name) {
            widget->setObjectName(QLatin1String(name));
            layout->addWidget(widget);
            return widget;
        };
        add(new QLabel, "logo");
        add(new QPushButton(QStringLiteral("登录")), "btnTitle");
        add(new QPushButton(QStringLiteral("菜单")), "btnTitle");
        for (const char* name : {"btnMin", "btnMax", "btnClose"}) {
            add(new QPushButton, name);
        }
        add(new QLabel, "lblName");
        auto* name = new QComboBox;
        add(name, "cmbName");
        name->setEditable(true);
        name->setEditText(QStringLiteral("请输入您的手机号"));
        add(new QLabel, "lblPwdTip");
        add(new QLineEdit(QStringLiteral("请输入密码")), "txtName");
        add(new QPushButton(QStringLiteral("登录")), "btnLogin");
        add(new QLabel(QStringLiteral("没有账号，请注册")), "lblReg");
        for (const char* name : {"btnMyClass", "btnDownload", "btnUser"}) {
            add(new QPushButton, name)->setFixedSize(60, 60);
        }
        // The page shown: its button is the disabled one.
        window.findChild<QPushButton*>(QStringLiteral("btnUser"))->setEnabled(false);
    }
    FirstPaint watcher;
    window.installEventFilter(&watcher);
    window.show();
    return application.exec();
}

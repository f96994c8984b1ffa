#include "ToShutdown.h"

#include "App.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ToShutdown::ToShutdown(QWidget* parent) : BaseDialog(QStringLiteral("即将关机"), 350, 150, parent)
{
    countdownLabel = new QLabel(QStringLiteral("将在30秒后关机"), body());
    countdownLabel->setObjectName(QStringLiteral("lblUserInfo"));
    btnCancel = new QPushButton(QStringLiteral("取消"), body());
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setCursor(Qt::PointingHandCursor);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(body());
    layout->addWidget(countdownLabel, 0, Qt::AlignHCenter);
    layout->addWidget(btnCancel, 0, Qt::AlignHCenter);

    connect(&timer, &QTimer::timeout, this, &ToShutdown::tick);
    timer.start(1000);
}

QString ToShutdown::labelText() const
{
    return countdownLabel->text();
}

void ToShutdown::tick()
{
    if (!timer.isActive()) {
        return;
    }
    --countdown;
    countdownLabel->setText(QStringLiteral("将在") + QString::number(countdown) +
                            QStringLiteral("秒后关机"));
    if (countdown <= 0) {
        timer.stop();
        if (App* app = App::instance()) {
            app->shutdown();
        }
        close();
    }
}

// Every way out of the dialog (cancel, the close button, Escape, the end of the countdown)
// passes through here or closeEvent, so no later tick can start a shutdown.
void ToShutdown::done(int result)
{
    timer.stop();
    BaseDialog::done(result);
}

void ToShutdown::closeEvent(QCloseEvent* event)
{
    timer.stop();
    BaseDialog::closeEvent(event);
}

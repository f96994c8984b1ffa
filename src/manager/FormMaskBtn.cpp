#include "FormMaskBtn.h"

#include "App.h"
#include "Downloader.h"

#include <QPainter>
#include <QPushButton>

FormMaskBtn::FormMaskBtn(QWidget* parent) : QWidget(parent)
{
    setFixedSize(220, 124);
    connect(App::instance()->downloader(), &Downloader::startPause, this,
            qOverload<>(&QWidget::repaint));
}

void FormMaskBtn::setState(int value, float percent)
{
    state = value;
    span = static_cast<int>(fullAngle * percent / 100);
}

QString FormMaskBtn::speedText(float speedKB)
{
    return speedKB > 1024 ? QString::number(speedKB / 1024, 'f', 2) + QStringLiteral("MB/s")
                          : QString::number(speedKB, 'f', 2) + QStringLiteral("KB/s");
}

QString FormMaskBtn::sizeText(float sizeKB, float totalMB)
{
    const QString stored = sizeKB < 1024
                               ? QString::number(sizeKB, 'f', 2) + QStringLiteral("KB")
                               : QString::number(sizeKB / 1024, 'f', 2) + QStringLiteral("MB");
    return stored + QLatin1Char('/') + QString::number(totalMB, 'f', 2) + QStringLiteral("MB");
}

QString FormMaskBtn::statusText() const
{
    if (!App::exists() || !App::instance()->downloader()->isStart()) {
        return QStringLiteral("暂停中");
    }
    switch (state) {
    case Progress:
        return speedText(speed);
    case Waiting:
        return QStringLiteral("等待中");
    case Failed:
        return QStringLiteral("缓存失败");
    default:
        return QString();
    }
}

void FormMaskBtn::showIcon(const QString& name)
{
    if (!btnWait) {
        auto make = [this](const char* objectName) {
            auto* button = new QPushButton(this);
            button->setObjectName(QLatin1String(objectName));
            button->setGeometry(100, 33, 32, 32);
            button->setFocusPolicy(Qt::NoFocus);
            button->setAttribute(Qt::WA_TransparentForMouseEvents);
            return button;
        };
        btnWait = make("btnWait");
        btnPauseKejian = make("btnPauseKejian");
        btnFail = make("btnFail");
    }
    for (QPushButton* button : {btnWait, btnPauseKejian, btnFail}) {
        button->setVisible(button->objectName() == name);
    }
}

void FormMaskBtn::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(rect(), QColor(0, 0, 0, 180));
    painter.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setFont(QFont(QStringLiteral("Microsoft Yahei"), 12));
    const QRect statusBox(92, 75, 60, 20);

    const QString status = statusText();
    if (!App::exists() || !App::instance()->downloader()->isStart()) {
        painter.drawText(statusBox, status);
        showIcon(QStringLiteral("btnPauseKejian"));
        return;
    }
    switch (state) {
    case Progress: {
        showIcon(QString());
        painter.setFont(QFont(QStringLiteral("Microsoft Yahei"), 10));
        painter.drawText(QRect(QPoint(80, 75), QPoint(274, 94)), status);
        painter.drawText(QRect(QPoint(60, 90), QPoint(254, 109)), sizeText(size, totalSize));
        painter.drawEllipse(QRect(99, 32, 32, 32));
        painter.setBrush(Qt::white);
        const int pie = std::max(span, 1);
        painter.drawPie(QRect(101, 34, 28, 28), 1440 - pie, pie);
        break;
    }
    case Waiting:
        painter.drawText(statusBox, status);
        showIcon(QStringLiteral("btnWait"));
        break;
    case Failed:
        painter.drawText(statusBox, status);
        showIcon(QStringLiteral("btnFail"));
        break;
    default:
        if (btnWait) {
            showIcon(QString());
        }
        break;
    }
}

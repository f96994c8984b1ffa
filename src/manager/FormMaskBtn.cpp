#include "FormMaskBtn.h"

#include "App.h"
#include "Downloader.h"
#include "LessonProgress.h"

#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <limits>

FormMaskBtn::FormMaskBtn(QWidget* parent) : QWidget(parent)
{
    setFixedSize(220, 124);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void FormMaskBtn::setState(int value, float percent)
{
    state = value;
    span = static_cast<int>(fullAngle * percent / 100);
    if (btnRetry) {
        btnRetry->setVisible(state == Failed);
    }
    if (state == Failed && !btnRetry) {
        btnRetry = new QPushButton(QStringLiteral("重试"), this);
        btnRetry->setObjectName(QStringLiteral("btnRetry"));
        btnRetry->setCursor(Qt::PointingHandCursor);
        btnRetry->setGeometry(80, 96, 60, 22);
        btnRetry->setStyleSheet(QStringLiteral(
            "QPushButton{color:white;border:1px solid white;border-radius:3px;"
            "background:transparent;font-size:12px;}QPushButton:hover{background:#2f86f6;}"));
        connect(btnRetry, &QPushButton::clicked, this, &FormMaskBtn::retryClicked);
        btnRetry->show();
    }
}

void FormMaskBtn::setPicture(const QPixmap& value)
{
    picture = value;
    backdrop = QPixmap();
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

bool FormMaskBtn::isPausedNow() const
{
    return state == Held || !App::exists() || !App::instance()->downloader()->isStart();
}

QString FormMaskBtn::statusText() const
{
    // A failed lesson is not held up by a pause: it waits for the student either way.
    if (state == Failed) {
        return QStringLiteral("缓存失败");
    }
    if (isPausedNow()) {
        return QStringLiteral("暂停中");
    }
    switch (state) {
    case Progress:
        return remaining >= 0
                   ? speedText(speed) + QLatin1Char(' ') + LessonProgress::remainingText(remaining)
                   : speedText(speed);
    case Waiting:
        return QStringLiteral("等待中");
    case Stalled:
        return QStringLiteral("网络中断，等待重试");
    default:
        return QString();
    }
}

QString FormMaskBtn::detailText() const
{
    return hasFigures && state != Failed ? sizeText(size, totalSize) : QString();
}

QString FormMaskBtn::noteText() const
{
    if (state != Stalled || isPausedNow()) {
        return QString();
    }
    if (retryAt.isNull()) {
        return QStringLiteral("重新登录后继续");
    }
    // Read against the clock when shown: a time gone by means the try is under way.
    if (retryAt <= QDateTime::currentDateTime()) {
        return QStringLiteral("正在重试");
    }
    return QStringLiteral("下次重试 ") + retryAt.toString(QStringLiteral("HH:mm:ss"));
}

void FormMaskBtn::showIcon(const QString& name)
{
    if (!btnWait) {
        if (name.isEmpty()) {
            return;
        }
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
        if (button->isVisibleTo(this) != (button->objectName() == name)) {
            button->setVisible(button->objectName() == name);
        }
    }
}

void FormMaskBtn::paintEvent(QPaintEvent*)
{
    if (backdrop.isNull()) {
        backdrop = QPixmap(QWidget::size());
        backdrop.fill(Qt::white);
        QPainter compose(&backdrop);
        if (!picture.isNull()) {
            compose.drawPixmap(0, 0, picture);
        }
        compose.fillRect(backdrop.rect(), QColor(0, 0, 0, 180));
    }
    static const QFont large(QStringLiteral("Microsoft Yahei"), 12);
    static const QFont small(QStringLiteral("Microsoft Yahei"), 10);
    QPainter painter(this);
    painter.drawPixmap(0, 0, backdrop);
    painter.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    const int w = QWidget::width();
    const auto line = [&](int top, const QString& text) {
        if (!text.isEmpty()) {
            painter.drawText(QRect(0, top, w, 18), Qt::AlignHCenter | Qt::AlignTop, text);
        }
    };

    const QString status = statusText();
    if (state == Failed) {
        painter.setFont(large);
        line(72, status);
        showIcon(QStringLiteral("btnFail"));
        return;
    }
    if (isPausedNow()) {
        painter.setFont(large);
        line(72, status);
        painter.setFont(small);
        line(92, detailText());
        showIcon(QStringLiteral("btnPauseKejian"));
        return;
    }
    switch (state) {
    case Progress: {
        showIcon(QString());
        painter.setFont(small);
        line(74, status);
        line(92, detailText());
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.drawEllipse(QRect(99, 32, 32, 32));
        painter.setBrush(Qt::white);
        const int pie = std::max(span, 1);
        painter.drawPie(QRect(101, 34, 28, 28), 1440 - pie, pie);
        break;
    }
    case Waiting:
        painter.setFont(large);
        line(72, status);
        painter.setFont(small);
        line(92, detailText());
        showIcon(QStringLiteral("btnWait"));
        break;
    case Stalled: {
        painter.setFont(small);
        line(72, status);
        line(88, detailText());
        line(104, noteText());
        showIcon(QStringLiteral("btnWait"));
        // Painted again when the shown time comes, to say that the try is under way.
        const qint64 due = retryAt.isNull() ? -1 : QDateTime::currentDateTime().msecsTo(retryAt);
        if (due >= 0) {
            if (!retryTimer) {
                retryTimer = new QTimer(this);
                retryTimer->setSingleShot(true);
                connect(retryTimer, &QTimer::timeout, this, [this] { update(); });
            }
            retryTimer->start(int(qMin<qint64>(due + 1, std::numeric_limits<int>::max())));
        }
        break;
    }
    default:
        showIcon(QString());
        break;
    }
}

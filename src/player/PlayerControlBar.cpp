#include "PlayerControlBar.h"

#include "PlayerTime.h"
#include "Slider.h"

#include <QBitmap>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

const QList<double> PlayerControlBar::speeds{0.75, 1.0, 1.25, 1.5, 2.0};

QPushButton* PlayerControlBar::makeButton(const QString& name, QWidget* parent, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setCursor(Qt::PointingHandCursor);
    // Keys go to the window.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QString PlayerControlBar::speedText(double factor)
{
    return QString::number(factor, 'f', factor == 0.75 || factor == 1.25 ? 2 : 1) +
           QLatin1Char('x');
}

QPushButton* PlayerControlBar::bigStartButton(QWidget* video)
{
    auto* button = makeButton(QStringLiteral("btnBigStart"), video);
    button->setFixedSize(90, 90);
    button->hide();
    QBitmap mask(89, 89);
    mask.fill(Qt::color0);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::color1);
        painter.setBrush(Qt::color1);
        painter.drawRoundedRect(mask.rect(), 99, 99);
    }
    button->setMask(mask);
    return button;
}

PlayerControlBar::PlayerControlBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("bar"));
    setFixedHeight(barHeight);
    progress = new Slider(this, true);
    progress->setObjectName(QStringLiteral("progress"));
    volume = new Slider(this, true);
    volume->setObjectName(QStringLiteral("volumn"));
    lbltime1 = new QLabel(this);
    lbltime1->setObjectName(QStringLiteral("lbltime1"));
    lbltime2 = new QLabel(this);
    lbltime2->setObjectName(QStringLiteral("lbltime2"));
    btnPlay = makeButton(QStringLiteral("btnPlay"), this);
    btnPause = makeButton(QStringLiteral("btnPause"), this);
    // The text buttons share the study button's look.
    btnPrev = makeButton(QStringLiteral("btnStudy"), this, QStringLiteral("上一讲"));
    btnNext = makeButton(QStringLiteral("btnStudy"), this, QStringLiteral("下一讲"));
    btnVolumn = makeButton(QStringLiteral("btnVolumn"), this);
    btnNoVolumn = makeButton(QStringLiteral("btnNoVolumn"), this);
    btnScreen = makeButton(QStringLiteral("btnScreen"), this);
    btnRecovery = makeButton(QStringLiteral("btnRecovery"), this);
    btnStudy = makeButton(QStringLiteral("btnStudy"), this, QStringLiteral("已学完"));
    btnDown = makeButton(QStringLiteral("btnStudy"), this, QStringLiteral("下载"));
    btnMark = makeButton(QStringLiteral("btnStudy"), this, QStringLiteral("添加书签"));
    btnMark->setToolTip(QStringLiteral("添加书签 (B)"));
    btnMarks = makeButton(QStringLiteral("btnStudy"), this, QStringLiteral("书签"));
    btnMarks->setCheckable(true);
    btnMarks->setToolTip(QStringLiteral("显示或隐藏书签列表"));

    speedBox = new QComboBox(this);
    speedBox->setObjectName(QStringLiteral("speedBox"));
    speedBox->setFocusPolicy(Qt::NoFocus);
    speedBox->setCursor(Qt::PointingHandCursor);
    speedBox->setToolTip(QStringLiteral("播放速度"));
    for (double factor : speeds) {
        speedBox->addItem(speedText(factor), factor);
    }

    btnPlay->hide();
    btnNoVolumn->hide();
    btnRecovery->hide();
    btnStudy->hide();
    btnDown->hide();
    progress->setEnabled(false);
    volume->setEnabled(false);
    btnDown->setEnabled(false);
    btnStudy->setEnabled(false);
    btnPrev->setEnabled(false);
    btnNext->setEnabled(false);
    progress->setFocusPolicy(Qt::NoFocus);
    volume->setFocusPolicy(Qt::NoFocus);
    volume->setFixedWidth(100);
    volume->setRange(0, 10);
    progress->setCursor(Qt::PointingHandCursor);
    progress->setTimeTips(true);
    volume->setCursor(Qt::PointingHandCursor);

    // The groove has a row of its own: a long lecture needs the whole width to aim at.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 4, 20, 0);
    column->setSpacing(0);
    column->addWidget(progress);
    auto* row = new QHBoxLayout();
    row->setContentsMargins(0, 0, 0, 0);
    column->addLayout(row);
    row->addWidget(btnPlay);
    row->addWidget(btnPause);
    row->addSpacing(10);
    row->addWidget(btnPrev);
    row->addWidget(btnNext);
    row->addSpacing(10);
    row->addWidget(lbltime1);
    row->addWidget(lbltime2);
    row->addStretch();
    row->addSpacing(10);
    row->addWidget(btnStudy);
    row->addSpacing(10);
    row->addWidget(btnDown);
    row->addSpacing(10);
    row->addWidget(btnMark);
    row->addWidget(btnMarks);
    row->addSpacing(10);
    row->addWidget(speedBox);
    row->addSpacing(10);
    row->addWidget(btnVolumn);
    row->addWidget(btnNoVolumn);
    row->addWidget(volume);
    row->addSpacing(10);
    row->addWidget(btnScreen);
    row->addWidget(btnRecovery);
}

void PlayerControlBar::setDuration(qint64 seconds)
{
    progress->setRange(0, int(seconds));
    durationText = playerTimeText(seconds);
}

void PlayerControlBar::showTime(qint64 seconds)
{
    progress->setValue(int(seconds));
    lbltime1->setText(playerTimeText(seconds));
    lbltime2->setText(QLatin1Char('/') + durationText);
}

#include "FormUserInfo.h"

#include "App.h"
#include "FormAlterPwd.h"
#include "PictureReader.h"
#include "UserRecord.h"

#include <QBitmap>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

// A thin rule where a line of text would stand (the style sheet draws its bottom border): a
// row of underscores was cut at the panel's edge, and at another scale ended short of it.
static QLabel* lineLabel(QWidget* parent)
{
    auto* line = new QLabel(parent);
    line->setObjectName(QStringLiteral("lblLine"));
    line->setFixedHeight(line->fontMetrics().height());
    return line;
}

FormUserInfo::FormUserInfo(QWidget* parent) : StyledWidget(parent)
{
    bar = new QLabel(this);
    bar->setObjectName(QStringLiteral("bar"));
    bar->setFixedHeight(120);

    auto* inner = new QWidget(this);
    inner->setFixedWidth(380);
    lblAccount = new QLabel(QStringLiteral("手机"), inner);
    lblAccount->setObjectName(QStringLiteral("lblUserInfo"));
    auto* pwdTitle = new QLabel(QStringLiteral("修改密码"), inner);
    pwdTitle->setObjectName(QStringLiteral("lblUserInfo"));
    btnAlterPwd = new QPushButton(inner);
    btnAlterPwd->setObjectName(QStringLiteral("btnAlterPwd"));
    btnAlterPwd->setFixedWidth(300);
    btnAlterPwd->setCursor(Qt::PointingHandCursor);
    btnEsc = new QPushButton(QStringLiteral("退出"), inner);
    btnEsc->setObjectName(QStringLiteral("btnEsc"));
    btnEsc->setCursor(Qt::PointingHandCursor);

    auto* pwdRow = new QHBoxLayout();
    pwdRow->addWidget(pwdTitle);
    pwdRow->addWidget(btnAlterPwd, 0, Qt::AlignRight);
    auto* innerLayout = new QVBoxLayout(inner);
    innerLayout->addWidget(lblAccount);
    innerLayout->addWidget(lineLabel(inner));
    innerLayout->addSpacing(20);
    innerLayout->addLayout(pwdRow);
    innerLayout->addWidget(lineLabel(inner));
    innerLayout->addSpacing(100);
    innerLayout->addWidget(btnEsc);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addSpacing(130);
    layout->addWidget(inner, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(btnEsc, &QPushButton::clicked, this, &FormUserInfo::escLogin);
    connect(btnAlterPwd, &QPushButton::clicked, this, &FormUserInfo::alterPwd);
    App* app = App::instance();
    connect(app, &App::Login, this, &FormUserInfo::onLogin);
    connect(app, &App::userImgAdd, this, &FormUserInfo::onAddUserImg);
}

FormUserInfo::~FormUserInfo() = default;

QPixmap FormUserInfo::roundAvatar(const QImage& image)
{
    if (image.isNull()) {
        return QPixmap();
    }
    QBitmap mask(avatarSize, avatarSize);
    mask.fill(Qt::white);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setPen(Qt::black);
        painter.setBrush(QBrush(Qt::black, Qt::SolidPattern));
        // Corner radii larger than half the side turn the rounded rectangle into a circle.
        painter.drawRoundedRect(0, 0, avatarSize, avatarSize, 99, 99, Qt::AbsoluteSize);
    }
    QPixmap picture = QPixmap::fromImage(
        image.scaled(avatarSize, avatarSize, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    picture.setMask(mask);
    return picture;
}

void FormUserInfo::onLogin(bool value)
{
    if (!value) {
        // The next person to log in must not see the previous one's picture and nickname
        // while their own is on its way, or when the school has none for them.
        if (avatar) {
            avatar->hide();
            nickLabel->hide();
        }
        return;
    }
    if (App* app = App::instance()) {
        lblAccount->setText(QStringLiteral("手机：") + app->session().username);
    }
}

void FormUserInfo::onAddUserImg(QString path)
{
    // One pair of labels, made on the first announcement and refilled by later ones.
    if (!avatar) {
        avatar = new QLabel(this);
        avatar->setFixedSize(avatarSize, avatarSize);
        nickLabel = new QLabel(this);
        nickLabel->setTextFormat(Qt::PlainText); // the school's text
        nickLabel->setObjectName(QStringLiteral("lblUserInfo"));
    }
    // A picture stored by an older version may be one that is no longer let in.
    avatar->setPixmap(roundAvatar(PictureReader::fromFile(path)));
    if (App* app = App::instance()) {
        nickLabel->setText(app->session().nickname);
    }
    nickLabel->adjustSize();
    placeAvatar();
    avatar->show();
    nickLabel->show();
    avatar->raise();
    nickLabel->raise();
}

void FormUserInfo::placeAvatar()
{
    if (!avatar) {
        return;
    }
    avatar->move((width() - avatarSize) / 2, 80);
    nickLabel->move((width() - nickLabel->width()) / 2, 160);
}

void FormUserInfo::resizeEvent(QResizeEvent* event)
{
    StyledWidget::resizeEvent(event);
    placeAvatar();
}

void FormUserInfo::escLogin()
{
    if (App* app = App::instance()) {
        app->setLogin(false);
    }
}

void FormUserInfo::alterPwd()
{
    if (!pwdDialog) {
        pwdDialog = std::make_unique<FormAlterPwd>(QStringLiteral("修改密码"));
    }
    pwdDialog->run();
}

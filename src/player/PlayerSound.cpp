#include "PlayerSound.h"

#include "MpvController.h"
#include "PlayerControlBar.h"
#include "SettingKeys.h"
#include "Slider.h"

#include <QComboBox>
#include <QPushButton>

PlayerSound::PlayerSound(PlayerControlBar* bar, MpvController* mpv, Read setting, Write setSetting,
                         QObject* parent)
    : QObject(parent), bar(bar), mpv(mpv), setting(std::move(setting)),
      setSetting(std::move(setSetting))
{
    connect(bar->btnVolumn, &QPushButton::clicked, this, &PlayerSound::mute);
    connect(bar->btnNoVolumn, &QPushButton::clicked, this, &PlayerSound::unmute);
    connect(bar->volume, &Slider::sliderMoved, this, &PlayerSound::setVolume);
    connect(bar->volume, &Slider::mousePress, this, &PlayerSound::setVolume);
}

void PlayerSound::restore()
{
    const QList<double>& speeds = PlayerControlBar::speeds;
    const int speedIndex = speeds.indexOf(setting(SettingKeys::playerSpeed).toDouble());
    bar->speedBox->setCurrentIndex(speedIndex >= 0 ? speedIndex : speeds.indexOf(1.0));
    mpv->setSpeed(speeds.value(bar->speedBox->currentIndex(), 1.0));

    bool ok = false;
    const int level = setting(SettingKeys::playerVolume).toInt(&ok);
    savedVolume = ok ? qBound(0, level, 10) : 5;
    bar->volume->setValue(savedVolume);
    mpv->setVolume(savedVolume / 10.0);
    if (setting(SettingKeys::playerMute) == QLatin1String("1")) {
        bar->btnVolumn->hide();
        bar->btnNoVolumn->show();
        mpv->setMuted(true);
        bar->volume->setValue(0);
    }
}

void PlayerSound::setVolume(int value)
{
    if (mpv->isMuted()) {
        return;
    }
    bar->volume->setValue(value);
    mpv->setVolume(value / 10.0);
    store();
}

void PlayerSound::stepVolume(int step)
{
    const int value = bar->volume->value() + step;
    if (value >= 0 && value <= 10) {
        setVolume(value);
    }
}

void PlayerSound::mute()
{
    bar->btnVolumn->hide();
    bar->btnNoVolumn->show();
    mpv->setMuted(true);
    savedVolume = bar->volume->value();
    bar->volume->setValue(0);
    store();
}

void PlayerSound::unmute()
{
    bar->btnVolumn->show();
    bar->btnNoVolumn->hide();
    mpv->setMuted(false);
    bar->volume->setValue(savedVolume);
    store();
}

int PlayerSound::volume() const
{
    return bar->volume->value();
}

bool PlayerSound::isMuted() const
{
    return mpv->isMuted();
}

void PlayerSound::store()
{
    // Muted, the slider reads 0: the volume to come back to is the one kept.
    setSetting(SettingKeys::playerVolume,
               QString::number(mpv->isMuted() ? savedVolume : bar->volume->value()));
    setSetting(SettingKeys::playerMute, mpv->isMuted() ? QStringLiteral("1") : QStringLiteral("0"));
}

bool PlayerSound::setSpeed(double factor)
{
    const int index = PlayerControlBar::speeds.indexOf(factor);
    if (index < 0) {
        return false;
    }
    bar->speedBox->setCurrentIndex(index);
    mpv->setSpeed(factor);
    setSetting(SettingKeys::playerSpeed, QString::number(factor));
    return true;
}

bool PlayerSound::stepSpeed(int step)
{
    const int index = bar->speedBox->currentIndex() + step;
    return index >= 0 && index < PlayerControlBar::speeds.size() &&
           setSpeed(PlayerControlBar::speeds.at(index));
}

double PlayerSound::speed() const
{
    return bar->speedBox->currentData().toDouble();
}

#pragma once
// The alarm sound through QSoundEffect. The effect is created on first use: the audio back end
// costs start-up time and most runs never sound an alarm.
#include "platform/ISoundPlayer.h"

#include <QSoundEffect>

#include <memory>

class TQtSoundPlayer : public ISoundPlayer {
public:
    void PlayOnce(const std::string& path) override;
    void Stop() override;

private:
    std::unique_ptr<QSoundEffect> FEffect;
};

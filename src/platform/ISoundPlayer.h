#pragma once
// UI port: playing the alarm sound. Playing returns at once; the sound is not repeated.
#include <string>

class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    virtual void PlayOnce(const std::string& path) = 0;
    // Cuts off whatever sound is playing; harmless when none is.
    virtual void Stop() = 0;
};

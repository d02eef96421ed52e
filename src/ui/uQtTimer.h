#pragma once
// The timer port over QTimer, for the running program. A divisor above 1 runs every timer that
// many times faster (end-to-end tests of the real program; see main).
#include "platform/ITimer.h"

#include <QTimer>

class TQtTimer : public ITimer {
public:
    explicit TQtTimer(int divisor = 1) : FDivisor(divisor < 1 ? 1 : divisor) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (OnTimer)
                OnTimer();
        });
    }
    void SetInterval(int milliseconds) override {
        FInterval = milliseconds;
        FTimer.setInterval(milliseconds / FDivisor > 0 ? milliseconds / FDivisor
                                                       : (milliseconds > 0 ? 1 : 0));
    }
    int Interval() const override { return FInterval; }
    void SetSingleShot(bool singleShot) override { FTimer.setSingleShot(singleShot); }
    void Start() override { FTimer.start(); }
    void Stop() override { FTimer.stop(); }
    bool IsActive() const override { return FTimer.isActive(); }

private:
    int FDivisor;
    int FInterval = 0;
    QTimer FTimer;
};

class TQtTimerFactory : public ITimerFactory {
public:
    explicit TQtTimerFactory(int divisor = 1) : FDivisor(divisor) {}
    std::unique_ptr<ITimer> CreateTimer() override { return std::make_unique<TQtTimer>(FDivisor); }

private:
    int FDivisor;
};

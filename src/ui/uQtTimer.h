#pragma once
// The timer port over QTimer, for the running program.
#include "platform/ITimer.h"

#include <QTimer>

class TQtTimer : public ITimer {
public:
    TQtTimer() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (OnTimer)
                OnTimer();
        });
    }
    void SetInterval(int milliseconds) override { FTimer.setInterval(milliseconds); }
    int Interval() const override { return FTimer.interval(); }
    void SetSingleShot(bool singleShot) override { FTimer.setSingleShot(singleShot); }
    void Start() override { FTimer.start(); }
    void Stop() override { FTimer.stop(); }
    bool IsActive() const override { return FTimer.isActive(); }

private:
    QTimer FTimer;
};

class TQtTimerFactory : public ITimerFactory {
public:
    std::unique_ptr<ITimer> CreateTimer() override { return std::make_unique<TQtTimer>(); }
};

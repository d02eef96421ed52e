#pragma once
// The event pump over the Qt event loop: a waiting update transfer keeps the window live.
#include "platform/IEventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

class TQtEventPump : public IEventPump {
public:
    void ProcessEvents(int maxWaitMs) override {
        // The timer bounds the wait: WaitForMoreEvents returns after the first event it handles.
        QTimer bound;
        bound.setSingleShot(true);
        bound.start(maxWaitMs);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    void Wake() override {
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(FThread))
            dispatcher->wakeUp();
    }

private:
    QThread* FThread = QThread::currentThread();
};

#pragma once
// Helpers of the widget tests: driving modal dialogs and polling with a deadline.
#include "support/PollUntil.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs the event loop until cond holds or 5 s pass.
inline bool WaitFor(const std::function<bool()>& cond, int ms = 5000) {
    return PollUntil(cond, std::chrono::milliseconds(ms),
                     [] { QApplication::processEvents(QEventLoop::AllEvents, 10); });
}

// Runs act on the next modal dialog once it is shown (act gets the dialog).
inline void OnNextModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        if (!WaitFor([] { return QApplication::activeModalWidget() != nullptr; }))
            return;
        act(QApplication::activeModalWidget());
    });
}

#pragma once
// Helpers of the widget tests: driving modal dialogs and polling with a deadline.
#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

// Polls the event loop until cond holds or 5 s pass.
inline bool WaitFor(const std::function<bool()>& cond, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Runs act on the next modal dialog once it is shown (act gets the dialog).
inline void OnNextModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        if (!WaitFor([] { return QApplication::activeModalWidget() != nullptr; }))
            return;
        act(QApplication::activeModalWidget());
    });
}

#pragma once
// TTrayIcon: the notification-area icon with its hint and its menu mnuTrayPopup. It is not shown
// until the main window is first minimised and then stays. A left click counts only once the
// double-click time has passed without a second click; a double click acts at once.
#include "platform/ITimer.h"

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class TTrayIcon : public QObject {
public:
    // The notification area keeps at most this many characters of a hint.
    static constexpr int kMaxHint = 127;

    TTrayIcon(ITimerFactory& timers, QObject* parent);

    QMenu* mnuTrayPopup;
    QAction* miBreakConnection;
    QAction* mnuOpen;
    QAction* mnuN2;
    QAction* mnuClose;

    void SetImage(const QPixmap& image);
    void SetHint(const QString& hint);
    QString Hint() const { return FIcon.toolTip(); }
    // Shows the icon from now on (where the desktop has a notification area).
    void Reveal();
    bool IsRevealed() const { return FRevealed; }
    QSystemTrayIcon& Icon() { return FIcon; }

    // What the icon's mouse events do; driven by the icon, and by tests.
    void HandleActivation(QSystemTrayIcon::ActivationReason reason);
    ITimer& ClickTimer() { return *FClickTimer; }

    std::function<void()> OnShowMainWindow;
    std::function<void()> OnMenuOpening;
    std::function<void()> OnBreakConnection;
    std::function<void()> OnClose;

private:
    QSystemTrayIcon FIcon;
    std::unique_ptr<ITimer> FClickTimer;
    bool FRevealed = false;
};

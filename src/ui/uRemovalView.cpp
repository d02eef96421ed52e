#include "ui/uRemovalView.h"

#include "core/uTrayState.h"
#include "ui/ufRemoveDialers.h"

#include <QApplication>

void TRemovalView::SetBusyCursor(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TRemovalView::ShowRemovalReport(const TRemovalReport& report) {
    // The report has a cursor of its own while the removal waits for it to close.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    struct TRestore {
        ~TRestore() { QApplication::restoreOverrideCursor(); }
    } restore;
    ::ShowRemovalReport(report, FHost.ControlSkin(), FHost.DialogSkin());
}

void TRemovalView::ResetTray() {
    FHost.SetTrayState(trayReset);
}

void TRemovalView::ClearFoundDialers() {
    if (FClearFoundDialers)
        FClearFoundDialers();
}

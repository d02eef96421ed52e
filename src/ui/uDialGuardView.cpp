#include "ui/uDialGuardView.h"

#include "core/uTrayState.h"
#include "ui/ufConnection.h"

#include <cstdio>

void TDialGuardView::SetAlarmTray() {
    FHost.SetTrayState(trayAlarm);
}

void TDialGuardView::ResetTray() {
    FHost.SetTrayState(trayReset);
}

int TDialGuardView::ShowConnectionPrompt(const std::string& message, bool childMode) {
    return ::ShowConnectionPrompt(FHost, QString::fromStdString(message), childMode);
}

void TDialGuardView::ShowError(const std::string& text) {
    if (FShowError)
        FShowError(text);
    else
        std::fprintf(stderr, "QmVardel: %s\n", text.c_str());
}

#include "ui/uProgramGuardView.h"

#include "core/uTrayState.h"
#include "ui/ufDialerNotifyDlg.h"

#include <cstdio>

void TProgramGuardView::SetAlarmTray() {
    FHost.SetTrayState(trayAlarm);
}

void TProgramGuardView::ResetTray() {
    FHost.SetTrayState(trayReset);
}

int TProgramGuardView::ShowDialerPrompt(const std::string& dialerName, bool isRunning, bool childMode) {
    return ::ShowDialerPrompt(FHost, QString::fromStdString(dialerName), isRunning, childMode);
}

void TProgramGuardView::ShowInformation(const std::string& text) {
    FMessageBox.ShowMessageBox(text, mtInformation, mbOK);
}

void TProgramGuardView::ShowErrorBox(const std::string& text) {
    FMessageBox.ShowMessageBox(text, mtError, mbOK);
}

void TProgramGuardView::ShowError(const std::string& text) {
    if (FOptions.ShowError)
        FOptions.ShowError(text);
    else
        std::fprintf(stderr, "QmVardel: %s\n", text.c_str());
}

#pragma once
// The dial guard's view in the shell: the tray through the alarm host, TfrmConnection as the
// prompt, and the error box of the main window.
#include "guard/uDialGuard.h"
#include "ui/uAlarmHost.h"

#include <functional>
#include <string>

class TDialGuardView : public IDialGuardView {
public:
    TDialGuardView(IAlarmHost& host, std::function<bool()> childMode,
                   std::function<void(const std::string&)> showError)
        : FHost(host), FChildMode(std::move(childMode)), FShowError(std::move(showError)) {}

    bool ChildMode() const override { return FChildMode && FChildMode(); }
    void SetAlarmTray() override;
    void ResetTray() override;
    int ShowConnectionPrompt(const std::string& message, bool childMode) override;
    void ShowError(const std::string& text) override;

private:
    IAlarmHost& FHost;
    std::function<bool()> FChildMode;
    std::function<void(const std::string&)> FShowError;
};

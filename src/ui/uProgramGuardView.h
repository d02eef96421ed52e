#pragma once
// The launched-program guard's view in the shell: the tray through the alarm host,
// TfrmDialerNotifyDlg as the prompt, the program's message box for the boxes after a removal,
// and the main window's error display.
#include "detection/uProgramGuard.h"
#include "ui/uAlarmHost.h"
#include "ui/uMessageBoxPort.h"

#include <functional>
#include <string>

// The system parts of the removal and the guard, as the program's entry point made them; the
// guard is not built (every program may start) while any of them is missing.
struct TDetectionServices {
    IProcessControl* Processes = nullptr;
    IQuarantineFiles* QuarantineFiles = nullptr;
    IAutoStartEntries* AutoStartEntries = nullptr;
    IDisplayName* DisplayName = nullptr;
    const IClock* Clock = nullptr;
    std::function<std::string(qm::TDateTime)> ShortDate = {};
    bool Complete() const { return Processes && QuarantineFiles && AutoStartEntries && DisplayName && Clock; }
};

class TProgramGuardView : public IProgramGuardView {
public:
    struct TOptions {
        std::function<bool()> ExeMonitoring; // chbExeMonitoring
        std::function<bool()> ChildMode;     // chbChildMode
        std::function<void(const std::string&)> ShowError;
        std::function<bool()> Ending; // the end of work has begun
    };
    TProgramGuardView(IAlarmHost& host, IMessageBoxPort& messageBox, TOptions options)
        : FHost(host), FMessageBox(messageBox), FOptions(std::move(options)) {}

    bool ExeMonitoring() const override { return FOptions.ExeMonitoring && FOptions.ExeMonitoring(); }
    bool ChildMode() const override { return FOptions.ChildMode && FOptions.ChildMode(); }
    void SetAlarmTray() override;
    void ResetTray() override;
    int ShowDialerPrompt(const std::string& dialerName, bool isRunning, bool childMode) override;
    void ShowInformation(const std::string& text) override;
    void ShowErrorBox(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool Ending() const override { return FOptions.Ending && FOptions.Ending(); }

private:
    IAlarmHost& FHost;
    IMessageBoxPort& FMessageBox;
    TOptions FOptions;
};

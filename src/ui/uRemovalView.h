#pragma once
// The removal's view in the shell: the hourglass as the application's override cursor, the
// report in TfrmRemoveDialers, the tray through the alarm host, and the scan tab's clean-up.
#include "detection/uDialerRemoval.h"
#include "ui/uAlarmHost.h"

#include <functional>

class TRemovalView : public IRemovalView {
public:
    TRemovalView(IAlarmHost& host, std::function<void()> clearFoundDialers)
        : FHost(host), FClearFoundDialers(std::move(clearFoundDialers)) {}
    void SetBusyCursor(bool busy) override;
    void ShowRemovalReport(const TRemovalReport& report) override;
    void ResetTray() override;
    void ClearFoundDialers() override;

private:
    IAlarmHost& FHost;
    std::function<void()> FClearFoundDialers;
};

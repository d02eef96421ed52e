#pragma once
// The entry check's view over the main window: the option on the options tab, the alarm message
// in the window's alarm frame, and the picker dialog in the window's skins.
#include "guard/uEntryCheck.h"

class TfrmMain;

class TEntryCheckView : public IEntryCheckView {
public:
    TEntryCheckView(TfrmMain& window, IRemoteAccess& remoteAccess)
        : FWindow(window), FRemoteAccess(remoteAccess) {}

    bool IsCheckEntriesOn() const override;
    void ShowEntryAlarm(const std::string& number, const std::string& entryName) override;
    std::unique_ptr<IEntryPicker> CreateEntryPicker() override;

private:
    TfrmMain& FWindow;
    IRemoteAccess& FRemoteAccess;
};

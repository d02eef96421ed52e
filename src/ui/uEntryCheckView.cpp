#include "ui/uEntryCheckView.h"

#include "ui/ufAlarmMessageDlg.h"
#include "ui/ufEntrySettings.h"
#include "ui/ufMain.h"
#include "ui/ufOptionsTab.h"

bool TEntryCheckView::IsCheckEntriesOn() const {
    return FWindow.OptionsTab->chbCheckEntries->isChecked();
}

void TEntryCheckView::ShowEntryAlarm(const std::string& number, const std::string& entryName) {
    ShowAlarmMessage(FWindow,
                     EntryAlarmMessage(QString::fromStdString(number), QString::fromStdString(entryName)));
}

std::unique_ptr<IEntryPicker> TEntryCheckView::CreateEntryPicker() {
    auto picker = std::make_unique<TfrmEntrySettings>(FRemoteAccess, [this] { FWindow.ShowHelpTopic(""); });
    picker->ApplySkins(FWindow.ControlSkin(), FWindow.DialogSkin());
    return picker;
}

// TfrmMain's part of the status and scan tabs: the scan animation's page, the phone-book entries,
// "Połącz" and the hang-up, over the dial guard of the subsystems.
#include "ui/uDialGuardShell.h"
#include "ui/ufMain.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufScanTab.h"
#include "ui/ufStatusTab.h"

void TfrmMain::SetScanAnimation(int page) {
    FSubsystems->SetScanAnimation(page);
}

void TfrmMain::FillEntries() {
    StatusTab->cmbEntries->clear();
    if (!FSubsystems)
        return;
    std::vector<std::string> entries;
    FSubsystems->DialGuard().RemoteAccess().GetEntryList(entries);
    for (const std::string& entry : entries)
        StatusTab->cmbEntries->addItem(QString::fromStdString(entry));
}

void TfrmMain::btnConnectClick() {
    if (!FSubsystems)
        return;
    FSubsystems->DialGuard().ConnectEntry(
        StatusTab->cmbEntries->currentIndex(), StatusTab->cmbEntries->currentText().toStdString(), this,
        [this](const std::string& text) { FMessageBox->ShowMessageBox(text, mtWarning, mbOK); }, bsSkinData,
        DialogSkinData);
}

void TfrmMain::HangUpAll() {
    if (FSubsystems)
        FSubsystems->DialGuard().RemoteAccess().HangUpAll();
}

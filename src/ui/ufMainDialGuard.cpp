// TfrmMain's part of the dial guard: the hook socket's messages, the hook files check and start,
// the phone-book entries of the status tab, "Połącz" and the hang-up.
#include "ui/uDialGuardShell.h"
#include "ui/ufMain.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufStatusTab.h"

void TfrmMain::CreateDialGuard() {
    FDialGuard = std::make_unique<TDialGuardShell>(TDialGuardShellPorts{
        *this,
        *FAllowedList,
        FApp.AppDir,
        [this] { return OptionsTab->chbChildMode->isChecked(); },
        [this](const std::string& text) { ShowError(text); },
        [this](const std::string& title) { setWindowTitle(QString::fromStdString(title)); },
        TLastDialRequest{FLastNumber, FLastRequestTag, FLastAllowed},
        FContext.DialGuard,
    });
    // The window answers hook messages from its creation on, as a window receives them.
    FDialGuard->Listen();
}

int TfrmMain::HandleCopyData(std::uint32_t dwData, std::span<const std::uint8_t> record) {
    return FDialGuard ? FDialGuard->Dispatcher().Dispatch(dwData, record) : 0;
}

bool TfrmMain::CheckHookFiles() {
    return FDialGuard && FDialGuard->CheckHookFiles();
}

void TfrmMain::StartHooks() {
    if (FDialGuard)
        FDialGuard->StartHooks();
}

void TfrmMain::FillEntries() {
    StatusTab->cmbEntries->clear();
    if (!FDialGuard)
        return;
    std::vector<std::string> entries;
    FDialGuard->RemoteAccess().GetEntryList(entries);
    for (const std::string& entry : entries)
        StatusTab->cmbEntries->addItem(QString::fromStdString(entry));
}

void TfrmMain::btnConnectClick() {
    if (!FDialGuard)
        return;
    FDialGuard->ConnectEntry(
        StatusTab->cmbEntries->currentIndex(), StatusTab->cmbEntries->currentText().toStdString(), this,
        [this](const std::string& text) { FMessageBox->ShowMessageBox(text, mtWarning, mbOK); });
}

void TfrmMain::HangUpAll() {
    if (FDialGuard)
        FDialGuard->RemoteAccess().HangUpAll();
}

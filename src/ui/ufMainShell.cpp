// TfrmMain, continued: the tray, hiding and showing the window, and the program's end (close
// query, tray menu, the session's end of work).
#include "ui/ufMain.h"

#include "ui/uHelpWindow.h"
#include "ui/uImages.h"
#include "ui/uTrayIcon.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufStatusTab.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

void TfrmMain::SetTrayState(int state) {
    FTray->SetTrayState(state);
}

void TfrmMain::ShowTrayImage(TTrayImageList list, int index) {
    const auto& images = TrayImages(list);
    if (index >= 0 && index < images.size())
        FTrayIcon->SetImage(images[index]);
}

void TfrmMain::SetTrayHint(const std::string& hint) {
    FTrayIcon->SetHint(QString::fromStdString(hint));
}

void TfrmMain::StartAlarmSound() {
    const QString path = QDir(QString::fromStdString(FApp.AppDir)).filePath(QStringLiteral("alert.wav"));
    if (OptionsTab->chbSoundEffect->isChecked() && QFileInfo::exists(path))
        FContext.Sound.PlayOnce(path.toStdString());
}

void TfrmMain::StopSound() {
    FContext.Sound.Stop();
}

bool TfrmMain::IsConnectionUp() const {
    return FSubsystems && FSubsystems->Connection().IsConnected();
}

std::string TfrmMain::ConnectedNumber() const {
    return FSubsystems ? FSubsystems->Connection().ConnectedNumber() : std::string();
}

void TfrmMain::ShowMainWindow() {
    showNormal();
    raise();
    activateWindow();
    // A prompt waiting for an answer blocks the window: it comes forward too, or the program
    // would look dead.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this) {
        modal->showNormal();
        modal->raise();
        modal->activateWindow();
    }
}

void TfrmMain::btnMinimizeClick() {
    setWindowState(windowState() | Qt::WindowMinimized);
}

void TfrmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        HideToTray();
}

void TfrmMain::HideToTray() {
    // Without a notification area the window stays minimised on the task bar, so the user can
    // always get it back.
    if (!FTrayAvailable)
        return;
    FTrayIcon->Reveal();
    hide();
}

void TfrmMain::ApplyCommandLine() {
    if (!FContext.Arguments.empty() && FContext.Arguments.front() == "tray")
        setWindowState(windowState() | Qt::WindowMinimized);
}

bool TfrmMain::FormCloseQuery() {
    if (FClosing)
        return true;
    return FMessageBox &&
           FMessageBox->ShowMessageBox("Czy wyłączyć QmVardel?", mtConfirmation, mbYes | mbNo) == mrYes;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    // Closing the main window ends the program.
    Terminate();
}

bool TfrmMain::QueryEndSession() {
    FClosing = true;
    FormDestroy();
    return true;
}

void TfrmMain::mnuCloseClick() {
    Terminate();
}

void TfrmMain::Terminate() {
    // exit, not quit: quit would first ask every window to close, and the close query must not
    // appear when the program ends from the tray menu.
    if (FContext.OnTerminate)
        FContext.OnTerminate();
    else
        QCoreApplication::exit(0);
}

void TfrmMain::FormDestroy() {
    // Runs at the session's end of work and again when the window goes: only the first run frees.
    if (FFormDestroyed)
        return;
    FFormDestroyed = true;
    // No request may be decided over a list that is gone; the subsystems themselves go with the
    // window, as a request being decided right now still runs on them.
    if (FSubsystems)
        FSubsystems->Stop();
    // The signature database is freed here, after the allowed numbers list.
    if (FContext.OnFormDestroyed)
        FContext.OnFormDestroyed();
}

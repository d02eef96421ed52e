#pragma once
// T_frmStdAlarmDlg: the frame that every alarm dialog shares: a stay-on-top fixed dialog with the
// siren at the left, the marked-up message in the middle and a column of buttons at the right.
// ShowAlarmDialog is the show sequence that all of them follow: the tray turns to its alarm
// before the dialog exists and is reset after it is gone, also when showing it fails.
#include "core/uTrayState.h"
#include "ui/uAlarmHost.h"
#include "ui/uSirenAnimation.h"
#include "ui/uSkinForm.h"

#include "components/QmLabel.h"

#include <QDialog>
#include <QPushButton>

#include <memory>

class T_frmStdAlarmDlg : public QDialog {
public:
    static constexpr int kClientWidth = 592;
    static constexpr int kButtonLeft = 414;
    static constexpr int kButtonWidth = 137;
    static constexpr int kButtonHeight = 25;

    explicit T_frmStdAlarmDlg(IAlarmHost& host, QWidget* parent = nullptr);
    ~T_frmStdAlarmDlg() override;

    // Declared in the order of the frame's parts.
    QPushButton* btnConnect;
    QPushButton* btnReject;
    TbsBusinessSkinForm* bsBusinessSkinForm;
    TSirenAnimation* aniSiren;
    TQmLabel* labMessage;
    QPushButton* btnHelp;

    // The message in markup; "\n" and "\r\n" break the line.
    void SetMessage(const QString& message);
    QString Message() const;
    void StartSiren() { aniSiren->Start(); }

    // How far each further open alarm dialog is moved down and right, so none hides another.
    static constexpr int kStackOffset = 32;
    // The alarm dialogs on the screen now (each one shown offsets the next).
    static int OpenCount() { return sOpenCount; }

    void setVisible(bool visible) override;

protected:
    void changeEvent(QEvent* event) override;
    // Grows the dialog downwards so the whole message shows, up to the screen's height.
    void FitToMessage();
    // Centres the dialog at its real size, offset by the alarm dialogs already open.
    void PlaceOnScreen();
    // The frame's own help opens the default topic; the dialogs of the guard open their own.
    virtual void btnHelpClick();
    QPushButton* NewButton(const char* name, const QString& caption, int top);

    IAlarmHost& FHost;
    QString FMessage;

private:
    static inline int sOpenCount = 0;
    bool FCounted = false;
};

// The show sequence: trayAlarm, create, set up, start the siren, show modally, free, trayReset.
// Returns the dialog's result. setup(dialog) fills in the message and the buttons.
template <class TDialog, class TSetup> int ShowAlarmDialog(IAlarmHost& host, TSetup&& setup) {
    host.SetTrayState(trayAlarm);
    struct TResetTray {
        IAlarmHost& Host;
        ~TResetTray() { Host.SetTrayState(trayReset); }
    } reset{host};
    auto dialog = std::make_unique<TDialog>(host);
    setup(*dialog);
    dialog->StartSiren();
    return dialog->exec();
}

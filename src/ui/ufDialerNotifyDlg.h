#pragma once
// TfrmDialerNotifyDlg: the dialer prompt on the alarm frame. It tells that a known dialer starts
// (or runs) and offers to remove it ("  Usuń Dialer", the default) or to let it start (or run on);
// closing it any other way means remove.
#include "ui/_ufStdAlarmDlg.h"

#include <QString>

class TfrmDialerNotifyDlg : public T_frmStdAlarmDlg {
public:
    static constexpr int kClientWidth = 591;

    explicit TfrmDialerNotifyDlg(IAlarmHost& host, QWidget* parent = nullptr);

    QPushButton* btnRemoveDialer;
    QPushButton* btnAllowDialer;

    QString DialerName;
    bool IsRunning = false;

    // Child mode leaves only removal and help.
    void SetChildMode(bool childMode) { btnAllowDialer->setEnabled(!childMode); }

protected:
    void showEvent(QShowEvent* event) override;
    void btnHelpClick() override;
};

// The prompt of the launched-program guard: creates it, sets it up, shows it modally and frees it;
// returns its modal result (1 allow, 2 remove). The tray's alarm and reset around it are the
// caller's.
int ShowDialerPrompt(IAlarmHost& host, const QString& dialerName, bool isRunning, bool childMode);

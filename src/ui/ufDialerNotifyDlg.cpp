#include "ui/ufDialerNotifyDlg.h"

#include "detection/uProgramGuard.h"
#include "util/uFormat.h"

#include <memory>

TfrmDialerNotifyDlg::TfrmDialerNotifyDlg(IAlarmHost& host, QWidget* parent) : T_frmStdAlarmDlg(host, parent) {
    setObjectName(QStringLiteral("frmDialerNotifyDlg"));
    setWindowTitle(QStringLiteral("Qm Vardel"));
    setFixedSize(kClientWidth, height());
    // The frame's own pair gives way to the prompt's two answers.
    btnConnect->hide();
    btnReject->hide();
    btnConnect->setDefault(false);
    btnRemoveDialer = NewButton("btnRemoveDialer", QStringLiteral("  Usuń Dialer"), 5);
    btnAllowDialer = NewButton("btnAllowDialer", QStringLiteral("Uruchom Dialer"), 36);
    btnHelp->move(kButtonLeft, 67);
    setTabOrder(btnRemoveDialer, btnAllowDialer);
    setTabOrder(btnAllowDialer, btnHelp);
    btnRemoveDialer->setDefault(true);
    btnRemoveDialer->setFocus();
    connect(btnRemoveDialer, &QPushButton::clicked, this, [this] { done(dpRemove); });
    connect(btnAllowDialer, &QPushButton::clicked, this, [this] { done(dpAllow); });
}

void TfrmDialerNotifyDlg::showEvent(QShowEvent* event) {
    StartSiren();
    const std::string name = DialerName.toStdString();
    SetMessage(QString::fromStdString(
        qm::Format(IsRunning ? kDialerRunningMessageFormat : kDialerStartMessageFormat, name)));
    btnAllowDialer->setText(IsRunning ? QStringLiteral("Pozostaw Dialer") : QStringLiteral("Uruchom Dialer"));
    T_frmStdAlarmDlg::showEvent(event);
    btnRemoveDialer->setFocus();
}

void TfrmDialerNotifyDlg::btnHelpClick() {
    FHost.ShowHelpTopic(kDialerHelpTopic);
}

int ShowDialerPrompt(IAlarmHost& host, const QString& dialerName, bool isRunning, bool childMode) {
    auto prompt = std::make_unique<TfrmDialerNotifyDlg>(host);
    prompt->SetChildMode(childMode);
    prompt->DialerName = dialerName;
    prompt->IsRunning = isRunning;
    return prompt->exec();
}

#include "ui/ufConnection.h"

#include "ui/uImages.h"

#include <memory>

TfrmConnection::TfrmConnection(IAlarmHost& host, QWidget* parent) : T_frmStdAlarmDlg(host, parent) {
    setObjectName(QStringLiteral("frmConnection"));
    // The frame's Ok and Cancel become the answers; rejecting is first and the default.
    disconnect(btnConnect, &QPushButton::clicked, this, &QDialog::accept);
    disconnect(btnReject, &QPushButton::clicked, this, &QDialog::reject);
    btnReject->setText(QStringLiteral("Odrzuć połączenie"));
    btnReject->move(kButtonLeft, 5);
    btnConnect->setText(QStringLiteral("Połącz"));
    btnConnect->move(kButtonLeft, 36);
    btnAddNumber = NewButton("btnAddNumber", QStringLiteral(" Dodaj do listy"), 67);
    btnHelp->move(kButtonLeft, 98);
    setTabOrder(btnReject, btnConnect);
    setTabOrder(btnConnect, btnAddNumber);
    setTabOrder(btnAddNumber, btnHelp);
    btnConnect->setDefault(false);
    btnReject->setDefault(true);
    btnReject->setFocus();

    connect(btnConnect, &QPushButton::clicked, this, [this] { btnConnectClick(); });
    connect(btnReject, &QPushButton::clicked, this, [this] { btnRejectClick(); });
    connect(btnAddNumber, &QPushButton::clicked, this, [this] { btnAddNumberClick(); });
}

void TfrmConnection::SetChildMode(bool childMode) {
    btnConnect->setEnabled(!childMode);
    btnAddNumber->setEnabled(!childMode);
}

void TfrmConnection::btnHelpClick() {
    FHost.ShowHelpTopic(kConnectionHelpTopic);
}

void TfrmConnection::btnConnectClick() {
    FAnswer = 0;
    done(QDialog::Accepted);
}

void TfrmConnection::btnRejectClick() {
    FAnswer = 1;
    done(QDialog::Rejected);
}

void TfrmConnection::btnAddNumberClick() {
    FAnswer = 2;
    done(QDialog::Accepted);
}

int ShowConnectionPrompt(IAlarmHost& host, const QString& message, bool childMode) {
    auto prompt = std::make_unique<TfrmConnection>(host);
    prompt->SetChildMode(childMode);
    prompt->SetAnswer(1);
    prompt->StartSiren();
    prompt->SetMessage(message);
    prompt->exec();
    return prompt->Answer();
}

#include "ui/ufDialDialog.h"

#include "ui/uSkinForm.h"
#include "util/uQmError.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

TfrmDialDialog::TfrmDialDialog(IRemoteAccess& remoteAccess, const std::string& entryName, QWidget* parent)
    : QDialog(parent), FRemoteAccess(remoteAccess), FEntryName(entryName) {
    setObjectName(QStringLiteral("frmDialDialog"));
    const QString name = QString::fromStdString(entryName);
    setWindowTitle(QStringLiteral("Połącz z ") + name);
    std::string number;
    try {
        number = remoteAccess.GetEntryPhoneNumber(entryName, "");
    } catch (const EQmError&) {
        // The number is only shown here; the dial itself does not need it.
    }
    lblEntry = new QLabel(QStringLiteral("Połączenie: ") + name, this);
    lblEntry->setObjectName(QStringLiteral("lblEntry"));
    lblNumber = new QLabel(QStringLiteral("Numer: ") + (number.empty() ? QStringLiteral("(nieznany)")
                                                                       : QString::fromStdString(number)),
                           this);
    lblNumber->setObjectName(QStringLiteral("lblNumber"));
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    btnDial = new QPushButton(QStringLiteral("Wybierz numer"), this);
    btnDial->setObjectName(QStringLiteral("btnDial"));
    btnDial->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Anuluj"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnDial);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblEntry);
    layout->addWidget(lblNumber);
    layout->addWidget(lblStatus);
    layout->addLayout(buttons);

    connect(btnDial, &QPushButton::clicked, this, [this] { btnDialClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmDialDialog::btnDialClick() {
    if (FRemoteAccess.Dial(FEntryName)) {
        accept();
        return;
    }
    lblStatus->setText(QStringLiteral("Nie udało się rozpocząć wybierania numeru."));
}

void ShowDialDialog(IRemoteAccess& remoteAccess, const std::string& entryName, QWidget* parent,
                    TbsSkinData* controls, TbsSkinData* frame) {
    auto dialog = std::make_unique<TfrmDialDialog>(remoteAccess, entryName, parent);
    (new TbsBusinessSkinForm(dialog.get()))->Apply(controls, frame);
    dialog->exec();
}

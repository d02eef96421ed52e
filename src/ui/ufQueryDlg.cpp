#include "ui/ufQueryDlg.h"

#include "ui/uSkinForm.h"

#include <QGuiApplication>
#include <QScreen>

#include <memory>

TfrmQueryDlg::TfrmQueryDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("frmQueryDlg"));
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(14);
    setFont(arial);
    setFixedSize(300, 110);
    labMsg = new QLabel(this);
    labMsg->setObjectName(QStringLiteral("labMsg"));
    labMsg->setGeometry(12, 10, 276, 20);
    tbInput = new QLineEdit(this);
    tbInput->setObjectName(QStringLiteral("tbInput"));
    tbInput->setGeometry(12, 34, 276, 25);
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(66, 72, 80, 25);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Anuluj"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(154, 72, 80, 25);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    // QDialog already maps Escape to reject, which is the Anuluj result.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    tbInput->setFocus();
}

TQueryResult QueryInput(const std::string& caption, const std::string& prompt, TbsSkinData* controls,
                        TbsSkinData* frame) {
    auto dialog = std::make_unique<TfrmQueryDlg>();
    dialog->setWindowTitle(QString::fromStdString(caption));
    dialog->labMsg->setText(QString::fromStdString(prompt));
    (new TbsBusinessSkinForm(dialog.get()))->Apply(controls, frame);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dialog->move(screen->availableGeometry().center() - dialog->rect().center());
    TQueryResult result;
    if (dialog->exec() == QDialog::Accepted) {
        result.Ok = true;
        result.Text = dialog->tbInput->text().toStdString();
    }
    return result;
}

#include "ui/ufAlarmMessageDlg.h"

#include "ui/uImages.h"

TfrmAlarmMessageDlg::TfrmAlarmMessageDlg(IAlarmHost& host, QWidget* parent) : T_frmStdAlarmDlg(host, parent) {
    setObjectName(QStringLiteral("frmAlarmMessageDlg"));
    btnConnect->move(kButtonLeft, 6);
    btnConnect->setIcon(ProgramIcon(QStringLiteral("glyph_ok")));
    btnReject->move(kButtonLeft, 92);
    btnReject->setText(QStringLiteral("Anuluj"));
    btnReject->hide();
    btnReject->setEnabled(false);
    btnHelp->move(kButtonLeft, 35);
}

void ShowAlarmMessage(IAlarmHost& host, const QString& message) {
    ShowAlarmDialog<TfrmAlarmMessageDlg>(host,
                                         [&](TfrmAlarmMessageDlg& dialog) { dialog.SetMessage(message); });
}

QString EntryAlarmMessage(const QString& number, const QString& entryName) {
    return QStringLiteral("<b>QmVardel</b> wykrył niedozwolony numer: <b>%1</b> w ustawieniach połączenia "
                          "<b>%2</b>. Dodaj ten numer do listy numerów dozwolonych lub zmień ustawienia.")
        .arg(number, entryName);
}

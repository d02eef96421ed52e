#include "ui/_ufStdAlarmDlg.h"

#include "ui/uImages.h"

T_frmStdAlarmDlg::T_frmStdAlarmDlg(IAlarmHost& host, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      FHost(host) {
    setObjectName(QStringLiteral("frmStdAlarmDlg"));
    setWindowTitle(QStringLiteral("QmVardel"));
    QFont formFont(QStringLiteral("MS Sans Serif"));
    formFont.setPixelSize(13);
    setFont(formFont);
    setFixedSize(kClientWidth, 133);

    btnConnect = NewButton("btnConnect", QStringLiteral("Ok"), 5);
    btnReject = NewButton("btnReject", QStringLiteral("Cancel"), 36);
    bsBusinessSkinForm = new TbsBusinessSkinForm(this);
    aniSiren = new TSirenAnimation(this);
    aniSiren->move(13, 6);
    labMessage = new TQmLabel(this);
    labMessage->setObjectName(QStringLiteral("labMessage"));
    labMessage->setGeometry(61, 5, 335, 20);
    labMessage->SetAutoSize(true);
    labMessage->SetWordWrap(true);
    labMessage->SetTransparent(true);
    QFont labelFont(QStringLiteral("Arial"));
    labelFont.setPixelSize(15);
    labMessage->setFont(labelFont);
    btnHelp = NewButton("btnHelp", QStringLiteral(" Pomoc"), 67);
    btnHelp->setIcon(ProgramIcon(QStringLiteral("glyph_help")));
    setTabOrder(btnConnect, btnReject);
    setTabOrder(btnReject, btnHelp);
    SetMessage(QStringLiteral("Tekst komunikatu"));

    connect(btnConnect, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnReject, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnHelp, &QPushButton::clicked, this, [this] { btnHelpClick(); });
    bsBusinessSkinForm->Apply(host.ControlSkin(), host.DialogSkin());
    btnConnect->setDefault(true);
}

QPushButton* T_frmStdAlarmDlg::NewButton(const char* name, const QString& caption, int top) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(kButtonLeft, top, kButtonWidth, kButtonHeight);
    button->setAutoDefault(false);
    return button;
}

void T_frmStdAlarmDlg::SetMessage(const QString& message) {
    FMessage = message;
    // The label grows downwards with its text; the dialog keeps its height.
    labMessage->SetCaption(message.toStdString());
    labMessage->UpdateAutoSize();
}

QString T_frmStdAlarmDlg::Message() const {
    return FMessage;
}

void T_frmStdAlarmDlg::btnHelpClick() {
    FHost.ShowHelpTopic("Cotozaprogram");
}

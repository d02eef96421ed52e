#include "ui/_ufStdAlarmDlg.h"

#include "ui/uImages.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <algorithm>

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

T_frmStdAlarmDlg::~T_frmStdAlarmDlg() {
    // The base class hides a dialog still shown without calling this class's setVisible.
    if (FCounted)
        --sOpenCount;
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
    // The label grows downwards with its text, and the dialog with it.
    labMessage->SetCaption(message.toStdString());
    labMessage->UpdateAutoSize();
    FitToMessage();
}

void T_frmStdAlarmDlg::FitToMessage() {
    constexpr int kMinHeight = 133;
    constexpr int kBottomMargin = 10;
    int height = std::max(kMinHeight, labMessage->geometry().bottom() + 1 + kBottomMargin);
    if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        // The frame's title bar takes its share of the screen too.
        const int frame = std::max(0, frameGeometry().height() - geometry().height());
        height = std::min(height, screen->availableGeometry().height() - frame);
    }
    // The width is the dialog's own (the dialer prompt is one pixel narrower than the rest).
    setFixedSize(width(), std::max(kMinHeight, height));
}

void T_frmStdAlarmDlg::PlaceOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QPoint topLeft = area.center() - QPoint(width() / 2, height() / 2);
    topLeft += QPoint(kStackOffset, kStackOffset) * sOpenCount;
    // Kept on the screen: a long stack starts again at the top left of the area.
    if (topLeft.x() + width() > area.right() || topLeft.y() + height() > area.bottom())
        topLeft = area.topLeft() + QPoint(kStackOffset, kStackOffset) * (sOpenCount % 4);
    move(std::max(area.left(), topLeft.x()), std::max(area.top(), topLeft.y()));
}

void T_frmStdAlarmDlg::setVisible(bool visible) {
    if (visible && !FCounted) {
        FitToMessage();
        PlaceOnScreen();
        FCounted = true;
        ++sOpenCount;
    } else if (!visible && FCounted) {
        FCounted = false;
        --sOpenCount;
    }
    QDialog::setVisible(visible);
}

void T_frmStdAlarmDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // A minimised prompt would leave the program dead while it waits for an answer: a window
    // manager that minimises it regardless gets it back at once.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            raise();
            activateWindow();
        });
}

QString T_frmStdAlarmDlg::Message() const {
    return FMessage;
}

void T_frmStdAlarmDlg::btnHelpClick() {
    FHost.ShowHelpTopic("Cotozaprogram");
}

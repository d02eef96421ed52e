#include "ui/uTrayIcon.h"

#include "ui/uImages.h"

#include <QApplication>

TTrayIcon::TTrayIcon(ITimerFactory& timers, QObject* parent)
    : QObject(parent), FClickTimer(timers.CreateTimer()) {
    mnuTrayPopup = new QMenu;
    mnuTrayPopup->setObjectName(QStringLiteral("mnuTrayPopup"));
    miBreakConnection = mnuTrayPopup->addAction(ProgramIcon(QStringLiteral("il16_break")),
                                                QStringLiteral("Przerwij połączenie"));
    miBreakConnection->setObjectName(QStringLiteral("miBreakConnection"));
    mnuOpen = mnuTrayPopup->addAction(QStringLiteral("Otwórz"));
    mnuOpen->setObjectName(QStringLiteral("mnuOpen"));
    mnuN2 = mnuTrayPopup->addSeparator();
    mnuN2->setObjectName(QStringLiteral("mnuN2"));
    mnuClose =
        mnuTrayPopup->addAction(ProgramIcon(QStringLiteral("il16_close")), QStringLiteral("Wyłącz vardela"));
    mnuClose->setObjectName(QStringLiteral("mnuClose"));
    // The menu has no owner widget; it goes with this object.
    connect(this, &QObject::destroyed, mnuTrayPopup, &QObject::deleteLater);
    FIcon.setContextMenu(mnuTrayPopup);

    connect(mnuTrayPopup, &QMenu::aboutToShow, this, [this] {
        if (OnMenuOpening)
            OnMenuOpening();
    });
    connect(miBreakConnection, &QAction::triggered, this, [this] {
        if (OnBreakConnection)
            OnBreakConnection();
    });
    connect(mnuOpen, &QAction::triggered, this, [this] {
        if (OnShowMainWindow)
            OnShowMainWindow();
    });
    connect(mnuClose, &QAction::triggered, this, [this] {
        if (OnClose)
            OnClose();
    });
    connect(&FIcon, &QSystemTrayIcon::activated, this, [this](auto reason) { HandleActivation(reason); });

    FClickTimer->SetSingleShot(true);
    FClickTimer->SetInterval(QApplication::doubleClickInterval());
    FClickTimer->OnTimer = [this] {
        if (OnShowMainWindow)
            OnShowMainWindow();
    };
}

void TTrayIcon::SetImage(const QPixmap& image) {
    FIcon.setIcon(QIcon(image));
}

void TTrayIcon::SetHint(const QString& hint) {
    FIcon.setToolTip(hint.left(kMaxHint));
}

void TTrayIcon::Reveal() {
    FRevealed = true;
    FIcon.show();
}

void TTrayIcon::HandleActivation(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        FClickTimer->Start();
        break;
    case QSystemTrayIcon::DoubleClick:
        FClickTimer->Stop();
        if (OnShowMainWindow)
            OnShowMainWindow();
        break;
    default:
        // The right button opens the context menu, which Qt shows by itself.
        break;
    }
}

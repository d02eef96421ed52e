#include "ui/ufStatusTab.h"

#include "ui/uImages.h"

TStatusTab::TStatusTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tsStatusPage"));
    imgLogo = NewControl<TImage>(this, "imgLogo", QRect(10, 14, 96, 96));
    imgLogo->setPixmap(ProgramImage(QStringLiteral("logo"), 96));
    imgLogo->setCursor(Qt::PointingHandCursor);

    bsSkinGroupBox2 = NewControl<QGroupBox>(this, "bsSkinGroupBox2", QRect(116, 6, 320, 124));
    bsSkinGroupBox2->setTitle(QStringLiteral("Stan połączenia modemowego"));
    imgConnectionState = NewControl<QLabel>(bsSkinGroupBox2, "imgConnectionState", QRect(12, 30, 32, 32));
    lblConnectionInfo =
        NewControl<QLabel>(bsSkinGroupBox2, "lblConnectionInfo", QString(), QRect(54, 26, 256, 20));
    QFont bold = font();
    bold.setBold(true);
    lblConnectionInfo->setFont(bold);
    lblTelNumber = NewControl<QLabel>(bsSkinGroupBox2, "lblTelNumber", QString(), QRect(54, 46, 256, 28));
    QFont large = bold;
    large.setPixelSize(22);
    lblTelNumber->setFont(large);
    labConnectionTime = NewMarkupLabel(bsSkinGroupBox2, "labConnectionTime", " ", QRect(54, 80, 160, 20));
    labConnectionTime->SetWordWrap(false);
    labConnectionTime->hide();
    btnBreakConnection = NewControl<QPushButton>(bsSkinGroupBox2, "btnBreakConnection",
                                                 QStringLiteral("Rozłącz"), QRect(222, 90, 88, 25));
    btnBreakConnection->hide();

    Label7 =
        NewControl<QLabel>(this, "Label7", QStringLiteral("Dostępne połączenia"), QRect(12, 146, 260, 20));
    cmbEntries = NewControl<QComboBox>(this, "cmbEntries", QRect(12, 168, 300, 25));
    cmbEntries->setEditable(false);
    btnConnect =
        NewControl<QPushButton>(this, "btnConnect", QStringLiteral("Połącz"), QRect(322, 168, 114, 25));
}

void TStatusTab::ShowConnected(const std::string& number) {
    lblTelNumber->setText(QString::fromStdString(number));
    lblConnectionInfo->setText(QStringLiteral("Połączony z numerem:"));
    imgConnectionState->clear();
    imgConnectionState->setPixmap(TrayImages(TTrayImageList::tilTrayIcon)[1]);
    btnBreakConnection->show();
    labConnectionTime->SetCaption(" ");
    labConnectionTime->show();
}

void TStatusTab::ShowNotConnected() {
    lblTelNumber->setText(QString());
    lblConnectionInfo->setText(QStringLiteral("Nie połączony"));
    imgConnectionState->setPixmap(TrayImages(TTrayImageList::tilTrayIcon)[0]);
    btnBreakConnection->hide();
    labConnectionTime->hide();
}

void TStatusTab::ShowDialing() {
    lblConnectionInfo->setText(QStringLiteral("rozpoczyna połączenie..."));
}

void TStatusTab::ShowConnectionTime(int seconds) {
    labConnectionTime->SetCaption("Czas połączenia: ." + std::to_string(seconds) + " sekund");
}

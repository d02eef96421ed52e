#include "ui/ufOptionsTab.h"

TOptionsTab::TOptionsTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("bsSkinTabSheet3"));
    Label1 = NewControl<QLabel>(this, "Label1", QStringLiteral("Skóry"), QRect(12, 4, 120, 18));
    cmbSkins = NewControl<QComboBox>(this, "cmbSkins", QRect(12, 23, 130, 25));
    cmbSkins->addItems({"Corona", "WinXP Blue", "Ecliptic", "Newtek"});
    Label5 = NewControl<QLabel>(this, "Label5", QStringLiteral("Częstotliwość skanowania komputera"),
                                QRect(154, 4, 282, 18));
    cmbScanFrequency = NewControl<QComboBox>(this, "cmbScanFrequency", QRect(154, 23, 150, 25));
    cmbScanFrequency->addItems({"codziennie", "co tydzień", "co miesiąc", "nie wykonuj"});

    const auto box = [this](const char* name, const char* caption, int row) {
        return NewControl<QCheckBox>(this, name, QString::fromUtf8(caption),
                                     QRect(12, 58 + row * 22, 280, 21));
    };
    chbAutoStart = box("chbAutoStart", "Uruchamiaj po starcie systemu", 0);
    chbExeMonitoring = box("chbExeMonitoring", "Monitoruj uruchamiane aplikacje", 1);
    chbCheckEntries = box("chbCheckEntries", "Sprawdzanie wpisów konfiguracyjnych", 2);
    chbAutoUpdate = box("chbAutoUpdate", "Autoaktualizacja bazy danych dialerów", 3);
    chbChildMode = box("chbChildMode", "Tryb małego dziecka", 4);
    chbSoundEffect = box("chbSoundEffect", "Efekty dźwiękowe w czasie alarmu", 5);

    groAllowedConnections = NewControl<QGroupBox>(this, "groAllowedConnections", QRect(296, 52, 142, 184));
    groAllowedConnections->setTitle(QStringLiteral("Dozwolone połączenia"));
    QFont small = font();
    small.setPixelSize(13);
    groAllowedConnections->setFont(small);
    lstAllowedConnections =
        NewControl<QListWidget>(groAllowedConnections, "lstAllowedConnections", QRect(7, 22, 128, 92));
    QFont bold = small;
    bold.setBold(true);
    lstAllowedConnections->setFont(bold);
    btnAddConnection = NewControl<QPushButton>(groAllowedConnections, "btnAddConnection",
                                               QStringLiteral(" Dodaj numer"), QRect(7, 120, 128, 25));
    btnDeleteConnection = NewControl<QPushButton>(groAllowedConnections, "btnDeleteConnection",
                                                  QStringLiteral(" Usuń numer"), QRect(7, 150, 128, 25));
    bsSkinStdLabel1 =
        NewControl<QLabel>(this, "bsSkinStdLabel1", QStringLiteral("Objaśnienia uzyskasz klikając przycisk:"),
                           QRect(12, 198, 280, 36));
    bsSkinStdLabel1->setWordWrap(true);
}

#include "ui/ufUpdateTab.h"

#include "ui/uImages.h"

TUpdateTab::TUpdateTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tsAutoupdate"));
    Image1 = NewControl<QLabel>(this, "Image1", QRect(12, 10, 48, 48));
    Image1->setPixmap(ProgramImage(QStringLiteral("update"), 48));
    labUpdateInfo =
        NewMarkupLabel(this, "labUpdateInfo",
                       "Kliknięcie  przycisku <b>Aktualizuj<plain> rozpocznie pobieranie aktualnej bazy "
                       "dialerów z Internetu. Aby funkcja działała poprawnie komputer powinien być "
                       "\"online\" (połączony z Siecią).",
                       QRect(70, 8, 366, 60));
    btnUpdate =
        NewControl<QPushButton>(this, "btnUpdate", QStringLiteral(" Aktualizuj"), QRect(12, 84, 130, 25));
    memUpdate = NewControl<QPlainTextEdit>(this, "memUpdate", QRect(12, 116, 424, 84));
    memUpdate->setReadOnly(true);
    labDataVersionInfo = NewMarkupLabel(this, "labDataVersionInfo", " ", QRect(12, 206, 230, 40));
}

void TUpdateTab::ClearLog() {
    memUpdate->clear();
}

void TUpdateTab::AddLogLine(const std::string& line) {
    memUpdate->appendPlainText(QString::fromStdString(line));
}

void TUpdateTab::SetUpdateCaption(const std::string& text) {
    btnUpdate->setText(QString::fromStdString(text));
}

void TUpdateTab::SetDatabaseInfo(const std::string& markup) {
    labDataVersionInfo->SetCaption(markup);
}

bool TUpdateTab::AutoUpdateChecked() const {
    return FAutoUpdateBox && FAutoUpdateBox->isChecked();
}

#pragma once
// tsAutoupdate ("Aktualizacja"): the database update button, its log and the database version.
#include "ui/uFormHelpers.h"

#include <QPlainTextEdit>
#include <QPushButton>

class TUpdateTab : public QWidget {
public:
    explicit TUpdateTab(QWidget* parent);

    QLabel* Image1;
    TQmLabel* labUpdateInfo;
    QPushButton* btnUpdate;
    QPlainTextEdit* memUpdate;
    TQmLabel* labDataVersionInfo;
};

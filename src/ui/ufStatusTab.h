#pragma once
// tsStatusPage ("Status"): the logo, the modem connection state and the phone-book entries.
#include "ui/uFormHelpers.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>

class TStatusTab : public QWidget {
public:
    explicit TStatusTab(QWidget* parent);

    TImage* imgLogo;
    QGroupBox* bsSkinGroupBox2;
    QLabel* imgConnectionState;
    QLabel* lblConnectionInfo;
    QLabel* lblTelNumber;
    TQmLabel* labConnectionTime;
    QPushButton* btnBreakConnection;
    QLabel* Label7;
    QComboBox* cmbEntries;
    QPushButton* btnConnect;
};

#pragma once
// tsStatusPage ("Status"): the logo, the modem connection state and the phone-book entries. It is
// the connection status's view.
#include "guard/uConnectionStatus.h"
#include "ui/uFormHelpers.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>

class TStatusTab : public QWidget, public IConnectionStatusView {
public:
    explicit TStatusTab(QWidget* parent);

    // IConnectionStatusView
    void ShowConnected(const std::string& number) override;
    void ShowNotConnected() override;
    void ShowDialing() override;
    void ShowConnectionTime(int seconds) override;

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

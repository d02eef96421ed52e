#pragma once
// TfrmConnection: the connection prompt of the dial guard, on the alarm frame. It asks whether a
// dial to a number that is not on the allowed list may go on; closing it any way but its three
// answer buttons rejects.
#include "ui/_ufStdAlarmDlg.h"

#include <cstdint>

class TfrmConnection : public T_frmStdAlarmDlg {
public:
    explicit TfrmConnection(IAlarmHost& host, QWidget* parent = nullptr);

    QPushButton* btnAddNumber;

    // Child mode leaves only rejection and help.
    void SetChildMode(bool childMode);
    // 0 connect, 1 reject, 2 add the number to the list.
    std::uint8_t Answer() const { return FAnswer; }
    void SetAnswer(std::uint8_t answer) { FAnswer = answer; }

protected:
    void btnHelpClick() override;

private:
    void btnConnectClick();
    void btnRejectClick();
    void btnAddNumberClick();

    std::uint8_t FAnswer = 1;
};

inline constexpr const char* kConnectionHelpTopic = "mechanizm_blokowania_polaczen";

// The prompt of AskConnection: creates it, sets it up, shows it modally and frees it; returns its
// answer. The tray's alarm and reset around it are the caller's.
int ShowConnectionPrompt(IAlarmHost& host, const QString& message, bool childMode);

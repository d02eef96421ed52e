#pragma once
// TfrmAlarmMessageDlg: the alarm frame as a plain warning ("Ok" and " Pomoc"), and
// ShowAlarmMessage, which shows it modally in the alarm show sequence.
#include "ui/_ufStdAlarmDlg.h"

class TfrmAlarmMessageDlg : public T_frmStdAlarmDlg {
public:
    explicit TfrmAlarmMessageDlg(IAlarmHost& host, QWidget* parent = nullptr);
};

// The message is in the markup of the program's labels.
void ShowAlarmMessage(IAlarmHost& host, const QString& message);

// The message of the phone-book entry check, with the entry's number and name put in.
QString EntryAlarmMessage(const QString& number, const QString& entryName);

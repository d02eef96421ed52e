#pragma once
// TfrmDialDialog: the dial dialog for one phone-book entry (the "Połącz" button of the status
// tab): it shows the entry and its number and starts the dial through the remote-access layer
// (pppd call NAME for a peer). It does not wait for the connection; the line monitor reports it.
#include "platform/IRemoteAccess.h"

#include <QDialog>

class QLabel;
class QPushButton;

class TfrmDialDialog : public QDialog {
public:
    TfrmDialDialog(IRemoteAccess& remoteAccess, const std::string& entryName, QWidget* parent = nullptr);

    QLabel* lblEntry;
    QLabel* lblNumber;
    QLabel* lblStatus;
    QPushButton* btnDial;
    QPushButton* btnCancel;

private:
    void btnDialClick();
    IRemoteAccess& FRemoteAccess;
    std::string FEntryName;
};

class TbsSkinData;

// Shows the dial dialog for the entry, owned by parent, in the program's skins (the control skin
// and the dialog-frame skin; null = plain); returns when it is closed.
void ShowDialDialog(IRemoteAccess& remoteAccess, const std::string& entryName, QWidget* parent,
                    TbsSkinData* controls = nullptr, TbsSkinData* frame = nullptr);

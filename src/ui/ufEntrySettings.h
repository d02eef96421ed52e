#pragma once
// TfrmEntrySettings: the first-run picker ("Ustawienia połączeń modemowych"): the phone-book
// entries with their numbers in a check list, most of them ticked; Ok gives the numbers of the
// ticked ones. "Anuluj" and Escape cancel, " Pomoc" opens the help at its default topic and the
// dialog stays. What is listed and ticked is decided by the Qt-free entry check.
#include "guard/uEntryCheck.h"

#include <QDialog>
#include <QListWidget>
#include <QPushButton>

#include <functional>
#include <string>
#include <vector>

class TQmLabel;
class TbsSkinData;

class TfrmEntrySettings : public QDialog, public IEntryPicker {
public:
    TfrmEntrySettings(IRemoteAccess& remoteAccess, std::function<void()> onHelp, QWidget* parent = nullptr);

    QListWidget* chbEntries;
    TQmLabel* labInfo;
    QPushButton* btnClose;
    QPushButton* btnCancel;
    QPushButton* btnHelp;

    // Centres the dialog on the desktop and draws it with the two skins.
    void ApplySkins(TbsSkinData* controls, TbsSkinData* frame);

    // IEntryPicker
    bool FillEntries() override;
    bool Execute() override { return exec() == QDialog::Accepted; }
    void GetSelectedNumbers(std::vector<std::string>& list) override;

private:
    IRemoteAccess& FRemoteAccess;
    std::function<void()> FOnHelp;
    // The number of each line, at the line's index.
    std::vector<std::string> FNumbers;
};

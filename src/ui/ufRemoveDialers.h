#pragma once
// TfrmRemoveDialers: the removal report window after a removal from the scan results: a fixed
// dialog, the report in a bold memo with both scroll bars, " Zamknij" at the lower right.
#include "detection/uDialerRemoval.h"
#include "ui/uSkinForm.h"

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

class TbsSkinData;

class TfrmRemoveDialers : public QDialog {
public:
    static constexpr int kClientWidth = 515;
    static constexpr int kClientHeight = 257;

    explicit TfrmRemoveDialers(QWidget* parent = nullptr);

    TbsBusinessSkinForm* bsBusinessSkinForm;
    QPlainTextEdit* Memo;
    QPushButton* btnClose;

    void SetReport(const TRemovalReport& report);
};

// Shows the report modally, centred on the desktop, and frees the window.
void ShowRemovalReport(const TRemovalReport& report, TbsSkinData* controls = nullptr,
                       TbsSkinData* frame = nullptr);

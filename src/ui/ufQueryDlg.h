#pragma once
// TfrmQueryDlg: asks for one line of text ("Ok" / "Anuluj", Escape cancels), and QueryInput,
// which shows it modally, centred on the desktop, and frees it.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <string>

class TbsSkinData;

class TfrmQueryDlg : public QDialog {
public:
    explicit TfrmQueryDlg(QWidget* parent = nullptr);

    QLabel* labMsg;
    QLineEdit* tbInput;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};

struct TQueryResult {
    bool Ok = false;
    std::string Text; // empty unless Ok
};

TQueryResult QueryInput(const std::string& caption, const std::string& prompt,
                        TbsSkinData* controls = nullptr, TbsSkinData* frame = nullptr);

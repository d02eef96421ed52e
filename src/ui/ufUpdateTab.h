#pragma once
// tsAutoupdate ("Aktualizacja"): the database update button, its log and the database version.
// The tab is the update run's view; the automatic-update box lives on the options tab.
#include "ui/uFormHelpers.h"
#include "update/uDatabaseUpdate.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

class TUpdateTab : public QWidget, public IUpdateView {
public:
    explicit TUpdateTab(QWidget* parent);

    QLabel* Image1;
    TQmLabel* labUpdateInfo;
    QPushButton* btnUpdate;
    QPlainTextEdit* memUpdate;
    TQmLabel* labDataVersionInfo;

    // chbAutoUpdate of the options tab; without one the automatic update counts as off.
    void SetAutoUpdateBox(QCheckBox* box) { FAutoUpdateBox = box; }

    void ClearLog() override;
    void AddLogLine(const std::string& line) override;
    void SetUpdateCaption(const std::string& text) override;
    void SetDatabaseInfo(const std::string& markup) override;
    bool AutoUpdateChecked() const override;

private:
    QPointer<QCheckBox> FAutoUpdateBox;
};

#pragma once
// bsSkinTabSheet3 ("Opcje"): the skins, the scan frequency, the six option boxes and the allowed
// numbers list.
#include "ui/uFormHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>

class TOptionsTab : public QWidget {
public:
    explicit TOptionsTab(QWidget* parent);

    QLabel* Label1;
    QComboBox* cmbSkins;
    QLabel* Label5;
    QComboBox* cmbScanFrequency;
    QCheckBox* chbAutoStart;
    QCheckBox* chbExeMonitoring;
    QCheckBox* chbCheckEntries;
    QCheckBox* chbAutoUpdate;
    QCheckBox* chbChildMode;
    QCheckBox* chbSoundEffect;
    QGroupBox* groAllowedConnections;
    QListWidget* lstAllowedConnections;
    QPushButton* btnAddConnection;
    QPushButton* btnDeleteConnection;
    QLabel* bsSkinStdLabel1;
};

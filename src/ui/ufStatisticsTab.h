#pragma once
// tsStatistics ("Statystyka"): the per-number connection statistics grid.
#include "ui/uFormHelpers.h"

#include <QPushButton>
#include <QTableWidget>

class TStatisticsTab : public QWidget {
public:
    explicit TStatisticsTab(QWidget* parent);

    QLabel* Label2;
    QTableWidget* grdStatistics;
    QPushButton* btnRefreshStatistics;
};

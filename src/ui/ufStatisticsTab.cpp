#include "ui/ufStatisticsTab.h"

#include <QHeaderView>

TStatisticsTab::TStatisticsTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tsStatistics"));
    Label2 = NewControl<QLabel>(this, "Label2", QStringLiteral("Statystyka połączeń"), QRect(12, 8, 300, 20));
    QFont bold = font();
    bold.setBold(true);
    Label2->setFont(bold);
    grdStatistics = NewControl<QTableWidget>(this, "grdStatistics", QRect(12, 32, 424, 172));
    grdStatistics->setColumnCount(5);
    grdStatistics->setRowCount(5);
    grdStatistics->horizontalHeader()->hide();
    grdStatistics->verticalHeader()->hide();
    grdStatistics->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdStatistics->setColumnWidth(0, 100);
    for (int c = 1; c < 5; ++c)
        grdStatistics->setColumnWidth(c, 79);
    btnRefreshStatistics = NewControl<QPushButton>(
        this, "btnRefreshStatistics", QStringLiteral("Odśwież statystyki"), QRect(12, 214, 170, 25));
}

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
    grdStatistics->setRowCount(1);
    grdStatistics->horizontalHeader()->hide();
    grdStatistics->verticalHeader()->hide();
    grdStatistics->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdStatistics->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdStatistics->setSelectionMode(QAbstractItemView::SingleSelection);
    grdStatistics->setShowGrid(true);
    grdStatistics->verticalHeader()->setMinimumSectionSize(1);
    grdStatistics->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grdStatistics->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int c = 0; c < 5; ++c)
        grdStatistics->setColumnWidth(c, kColumnWidths[c]);
    btnRefreshStatistics = NewControl<QPushButton>(
        this, "btnRefreshStatistics", QStringLiteral("Odśwież statystyki"), QRect(12, 214, 170, 25));
}

void TStatisticsTab::SetCell(int row, int column, const std::string& text) {
    QTableWidgetItem* item = grdStatistics->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        if (row == 0 || column == 0) {
            item->setFlags(Qt::ItemIsEnabled);
            item->setBackground(palette().button());
            item->setForeground(palette().buttonText());
        }
        grdStatistics->setItem(row, column, item);
    }
    item->setText(QString::fromStdString(text));
}

void TStatisticsTab::ShowStatisticsHeaders(const TStatisticsRow& headers) {
    for (int c = 0; c < 5; ++c)
        SetCell(0, c, headers[static_cast<std::size_t>(c)]);
}

void TStatisticsTab::ShowStatisticsRows(const std::vector<TStatisticsRow>& rows) {
    grdStatistics->setUpdatesEnabled(false);
    grdStatistics->setRowCount(static_cast<int>(rows.size()) + 1);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 5; ++c)
            SetCell(static_cast<int>(r) + 1, c, rows[r][static_cast<std::size_t>(c)]);
    grdStatistics->setUpdatesEnabled(true);
}

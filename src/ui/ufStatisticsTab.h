#pragma once
// tsStatistics ("Statystyka"): the per-number connection statistics grid, the view of the
// statistics table. Row 0 and column 0 are the grid's fixed header cells.
#include "statistics/uStatisticsTable.h"
#include "ui/uFormHelpers.h"

#include <QPushButton>
#include <QTableWidget>

class TStatisticsTab : public QWidget, public IStatisticsView {
public:
    static constexpr int kRowHeight = 20;
    static constexpr int kColumnWidths[5] = {64, 79, 89, 91, 83};

    explicit TStatisticsTab(QWidget* parent);

    // IStatisticsView
    void ShowStatisticsHeaders(const TStatisticsRow& headers) override;
    void ShowStatisticsRows(const std::vector<TStatisticsRow>& rows) override;

    QLabel* Label2;
    QTableWidget* grdStatistics;
    QPushButton* btnRefreshStatistics;

private:
    // Text of a cell; header cells are neither selectable nor part of a row's selection.
    void SetCell(int row, int column, const std::string& text);
};

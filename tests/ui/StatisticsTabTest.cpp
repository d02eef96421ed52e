// The statistics tab and the connection that feeds it, in the real window over the rig: the grid's
// shape and content, when it is refreshed, every second of a connection reaching the file, and
// the hang-up, which leaves the status to the line monitor's report.
#include "MainWindowFixture.h"

#include "core/uHookRecords.h"
#include "platform/linux/uLinuxTelephony.h"
#include "statistics/uStatistics.h"
#include "support/StandInLineFeed.h"
#include "ui/uTrayIcon.h"
#include "ui/ufStatisticsTab.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>

namespace {

constexpr const char* kStatsIni = "[main]\nfirst_run_flg=0\nlast_stat_write=45000\n"
                                  "[allowed_connections]\n0=0202122\n1=0300\n2=0700\n"
                                  "[day_statistics]\ntime_0202122=3725\nconcount_0202122=2\n"
                                  "concount_0700=1\ntime_0999=50\nconcount_0999=1\n"
                                  "[global_statistics]\ntime_0202122=90000\nconcount_0202122=9\n";

QStringList Row(QTableWidget* grid, int row) {
    QStringList cells;
    for (int c = 0; c < grid->columnCount(); ++c)
        cells << (grid->item(row, c) ? grid->item(row, c)->text() : QStringLiteral("(none)"));
    return cells;
}

TEST_F(TMainWindowTest, StatisticsGridShowsTheListedNumbersInListOrder) {
    Clock.Time = 45000.5;
    Start(kStatsIni);
    auto* grid = Find<QTableWidget>("grdStatistics");
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->columnCount(), 5);
    const int widths[] = {64, 79, 89, 91, 83};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(grid->columnWidth(c), widths[c]);
    EXPECT_EQ(grid->rowHeight(1), 20);
    EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(grid->item(0, 1)->flags() & Qt::ItemIsSelectable) << "the header row is fixed";
    EXPECT_FALSE(grid->item(1, 0)->flags() & Qt::ItemIsSelectable) << "the first column is fixed";

    // Filled by LoadSettings at the start; the number that is not listed has no row.
    ASSERT_EQ(grid->rowCount(), 4);
    EXPECT_EQ(Row(grid, 0), (QStringList{"", "dzienna", "tygodniowa", "miesięczna", "globalna"}));
    EXPECT_EQ(Row(grid, 1), (QStringList{"0202122", "1:2:5 [2]", "", "", "25:0:0 [9]"}));
    EXPECT_EQ(Row(grid, 2), (QStringList{"0300", "", "", "", ""})) << "never connected";
    EXPECT_EQ(Row(grid, 3), (QStringList{"0700", "0:0:0 [1]", "", "", ""})) << "a count and no seconds";

    // Writes do not refresh the grid; entering the tab and the button do.
    Frm->SetConnected("0300");
    EXPECT_EQ(Row(grid, 2)[4], "");
    Frm->PageControl->setCurrentWidget(Frm->StatisticsTab);
    EXPECT_EQ(Row(grid, 2)[4], "0:0:0 [1]");
    static_cast<TFakeTimer&>(Frm->Subsystems().Connection().Timer()).Fire();
    EXPECT_EQ(Row(grid, 2)[4], "0:0:0 [1]");
    QTest::mouseClick(Find<QPushButton>("btnRefreshStatistics"), Qt::LeftButton);
    EXPECT_EQ(Row(grid, 2)[4], "0:0:1 [1]");

    // A shorter list drops the rows beyond it; an empty one leaves the header row alone.
    Frm->Subsystems().AllowedList()->Delete(2);
    Frm->Subsystems().RefreshStatistics();
    EXPECT_EQ(grid->rowCount(), 3);
    Frm->Subsystems().AllowedList()->Delete(0);
    Frm->Subsystems().AllowedList()->Delete(0);
    Frm->Subsystems().RefreshStatistics();
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(Row(grid, 0)[1], "dzienna");
}

TEST_F(TMainWindowTest, EverySecondOfAConnectionReachesTheStatistics) {
    Clock.Time = 45000.5;
    Start("[main]\nfirst_run_flg=0\nlast_stat_write=45000\n[global_statistics]\ntime_0202122=100\n"
          "concount_0202122=4\n");
    auto& timer = static_cast<TFakeTimer&>(Frm->Subsystems().Connection().Timer());
    TStatisticsStore store({.Ini = *App->Ini, .Clock = Clock});

    Frm->Subsystems().Connection().LineCallState(TCallStateEvent::cseDialing);
    EXPECT_EQ(Find<QLabel>("lblConnectionInfo")->text(), "rozpoczyna połączenie...");
    Frm->SetConnected("0202122");
    EXPECT_EQ(store.ReadStatistics("0202122")[TStatPeriod::spGlobal], (TStatPair{100, 5}));
    for (int i = 0; i < 3; ++i)
        timer.Fire();
    const TConnectionStats stats = store.ReadStatistics("0202122");
    EXPECT_EQ(stats[TStatPeriod::spDay], (TStatPair{3, 1}));
    EXPECT_EQ(stats[TStatPeriod::spWeek], (TStatPair{3, 1}));
    EXPECT_EQ(stats[TStatPeriod::spGlobal], (TStatPair{103, 5}));

    // Disconnected, then idle: one not-connected state, and no more seconds.
    Frm->Subsystems().Connection().LineCallState(TCallStateEvent::cseIdle);
    Frm->Subsystems().Connection().LineCallState(TCallStateEvent::cseIdle);
    EXPECT_EQ(Find<QLabel>("lblConnectionInfo")->text(), "Nie połączony");
    EXPECT_FALSE(timer.IsActive());
    EXPECT_EQ(store.ReadStatistics("0202122")[TStatPeriod::spGlobal], (TStatPair{103, 5}));

    // No dial request in this run: the connection counts under the empty number.
    Frm->Subsystems().Connection().LineCallState(TCallStateEvent::cseConnected);
    timer.Fire();
    EXPECT_EQ(store.ReadStatistics("")[TStatPeriod::spGlobal], (TStatPair{1, 1}));
    EXPECT_NE(IniText().find("time_=1\n"), std::string::npos) << IniText();
}

TEST_F(TMainWindowTest, HangingUpWaitsForTheLineToReportTheEnd) {
    Start();
    Frm->SetConnected("0202122");
    QTest::mouseClick(Find<QPushButton>("btnBreakConnection"), Qt::LeftButton);
    EXPECT_EQ(Remote.HangUps, 1);
    Frm->TrayIcon()->miBreakConnection->trigger();
    EXPECT_EQ(Remote.HangUps, 2);
    EXPECT_TRUE(Frm->Subsystems().Connection().IsConnected()) << "until the line monitor reports the end";
    EXPECT_EQ(Find<QLabel>("lblConnectionInfo")->text(), "Połączony z numerem:");
    Frm->Subsystems().Connection().LineCallState(TCallStateEvent::cseIdle);
    EXPECT_EQ(Find<QLabel>("lblConnectionInfo")->text(), "Nie połączony");
}

} // namespace

namespace {

// The line monitor over the real telephony port and a stand-in line feed: the reports of a call
// reach the status, the tray and the statistics through the event loop as in the program.
TEST_F(TMainWindowTest, LineFeedReportsDriveStatusTrayAndStatistics) {
    const std::string feedPath = AppDir() + "line.sock";
    TStandInLineFeed feed;
    ASSERT_TRUE(feed.Listen(feedPath));
    TLinuxTelephony telephony(feedPath);
    TTapiMonitor monitor(telephony); // a local: it goes before the window, as at the program's end
    TapiMonitor = &monitor;
    Start("[main]\nfirst_run_flg=0\n[allowed_connections]\n0=0202122\n");
    ASSERT_TRUE(feed.WaitSubscribed());
    const auto info = [&] {
        return Find<QLabel>("lblConnectionInfo")->text();
    };
    const auto record = qm::EncodeDialRequest({1, "0202122", "", ""});
    ASSERT_EQ(Frm->HandleCopyData(qm::kHookDialRequest, record), 0);

    feed.CallState(kLineCallStateDialing);
    ASSERT_TRUE(WaitFor([&] { return info() == "rozpoczyna połączenie..."; }));
    feed.CallState(kLineCallStateConnected);
    ASSERT_TRUE(WaitFor([&] { return info() == "Połączony z numerem:"; }));
    EXPECT_EQ(Find<QLabel>("lblTelNumber")->text(), "0202122");
    EXPECT_EQ(Frm->TrayIcon()->Hint(), "Połączony z numerem: 0202122");
    auto* time = Find<TQmLabel>("labConnectionTime");
    EXPECT_EQ(time->Caption(), " ");
    for (int i = 0; i < 3; ++i)
        static_cast<TFakeTimer&>(Frm->Subsystems().Connection().Timer()).Fire();
    EXPECT_EQ(time->Caption(), "Czas połączenia: .3 sekund");
    TStatisticsStore store({.Ini = *App->Ini, .Clock = Clock});
    for (const TStatPair& pair : store.ReadStatistics("0202122").Periods)
        EXPECT_EQ(pair, (TStatPair{3, 1}));

    feed.CallState(kLineCallStateDisconnected);
    feed.CallState(kLineCallStateIdle);
    ASSERT_TRUE(WaitFor([&] { return info() == "Nie połączony"; }));
    EXPECT_EQ(Frm->TrayState(), trayIdle);
    EXPECT_TRUE(Find<QWidget>("btnBreakConnection")->isHidden());
    EXPECT_TRUE(time->isHidden());
}

} // namespace

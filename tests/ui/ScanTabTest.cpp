// The scan tab as the scan controller's view, offscreen with real widgets, Qt timers and a real
// walk on a worker thread.
#include "ui/uQtTimer.h"
#include "ui/ufScanTab.h"

#include "platform/linux/uLinuxFileSearch.h"
#include "platform/linux/uLinuxPlatform.h"

#include "fakes/FakePorts.h"
#include "fakes/FakeScanPorts.h"
#include "support/TempDir.h"

#include "UiTestUtil.h"

#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

struct TScanTabFixture {
    TTempDir Temp;
    TLinuxFileSystem Fs;
    TLinuxFileSearch Search;
    TLinuxMonotonicClock Ticks;
    TThreadJob Thread;
    TFakeBackgroundJob Stalled;
    TFakeClock Clock;
    TQtTimerFactory Timers;
    TFakeFixedDrives Drives;
    std::unique_ptr<TAppIni> Ini;
    std::unique_ptr<TSygnatureManager> Database;
    QTabWidget Tabs;
    TScanTab* Tab;
    std::vector<int> TrayStates;
    std::unique_ptr<TScanController> Scan;

    explicit TScanTabFixture(bool stalled = false) {
        Stalled.Deferred = true;
        Temp.Write("Sygn.ini", "6-5A------------------------------6C\n");
        Ini = std::make_unique<TAppIni>(Temp / "QmVardel.ini", Fs);
        Database = std::make_unique<TSygnatureManager>(Temp / "Sygn.ini", Fs, Temp / "QmVardel");
        Drives.Drives = {Temp / "disk"};
        Tabs.addTab(new QWidget, QStringLiteral("Status"));
        Tab = new TScanTab(&Tabs);
        Tabs.addTab(Tab, QStringLiteral("Skanowanie"));
        Tabs.resize(446, 306);
        QFont arial(QStringLiteral("Arial")); // the main window's font
        arial.setPixelSize(15);
        Tabs.setFont(arial);
        Tab->OnSetTrayState = [this](int state) {
            TrayStates.push_back(state);
        };
        Scan = std::make_unique<TScanController>(
            TScanContext{.FixedDrives = Drives,
                         .FileSearch = Search,
                         .Worker = stalled ? static_cast<IBackgroundJob&>(Stalled)
                                           : static_cast<IBackgroundJob&>(Thread),
                         .Ticks = Ticks,
                         .Clock = Clock,
                         .Timers = Timers,
                         .Ini = *Ini,
                         .Database = *Database,
                         .QuarantineDir = Temp / "back/"},
            *Tab);
        QObject::connect(Tab->btnStartSkan, &QPushButton::clicked, [this] { Scan->StartScan(); });
        QObject::connect(Tab->btnAbortScaning, &QPushButton::clicked, [this] { Scan->AbortScan(); });
        Tabs.show();
    }
};

} // namespace

TEST(ScanTab, ACompletedScanWithAFindShowsTheListTheSirenAndTheTab) {
    TScanTabFixture f;
    for (int i = 0; i < 200; ++i)
        f.Temp.Write("disk/d" + std::to_string(i % 20) + "/f" + std::to_string(i) + ".exe", "x");
    const std::string dialer = f.Temp.Write("disk/.hidden/MZ.scr", "MZdial");
    ASSERT_EQ(f.Tabs.currentIndex(), 0);

    QTest::mouseClick(f.Tab->btnStartSkan, Qt::LeftButton);
    EXPECT_TRUE(f.Tab->btnStartSkan->isHidden());
    EXPECT_FALSE(f.Tab->btnAbortScaning->isHidden());
    ASSERT_TRUE(WaitFor([&] { return !f.Scan->IsScanning(); }));

    EXPECT_TRUE(f.Tab->btnStartSkan->isVisible());
    EXPECT_FALSE(f.Tab->btnAbortScaning->isVisible());
    ASSERT_EQ(f.Tab->lstFoundDialers->count(), 1);
    EXPECT_EQ(f.Tab->lstFoundDialers->item(0)->text().toStdString(), dialer);
    EXPECT_EQ(f.Tab->labSearchResult->Caption(), "Znaleziono .1 podejrzanych plików");
    EXPECT_TRUE(f.Tab->btnRemoveDialers->isVisible());
    EXPECT_TRUE(f.Tab->btnRemoveDialers->isEnabled());
    EXPECT_TRUE(f.Tab->ScanResultNotebook->isVisible());
    EXPECT_EQ(f.Tab->ScanResultNotebook->currentIndex(), 0);
    EXPECT_EQ(f.Tab->ScanAnimationNotebook->currentIndex(), 2);
    EXPECT_TRUE(f.Tab->aniSiren->IsRunning());
    EXPECT_FALSE(f.Tab->aniScaning->IsRunning());
    EXPECT_EQ(f.Tabs.currentWidget(), f.Tab);
    EXPECT_TRUE(f.Tab->lblScanProgress->isHidden());
    EXPECT_EQ(f.TrayStates, (std::vector<int>{trayScanning, trayAlarm}));
}

TEST(ScanTab, AbortShowsTheNoticeInDarkRedAndTheProgressLineMovesNothing) {
    TScanTabFixture f(true);
    std::filesystem::create_directories(f.Temp / "disk");
    QTest::mouseClick(f.Tab->btnStartSkan, Qt::LeftButton);
    EXPECT_TRUE(f.Tab->aniScaning->IsRunning());
    EXPECT_FALSE(f.Tab->btnRemoveDialers->isEnabled());

    // The progress line sits in the free strip: it covers no other control.
    f.Tab->ShowScanProgress(ScanProgressText(123456, 1000000));
    EXPECT_FALSE(f.Tab->lblScanProgress->isHidden());
    const QRect progress = f.Tab->lblScanProgress->geometry();
    for (QWidget* other :
         {static_cast<QWidget*>(f.Tab->labScanInfo), static_cast<QWidget*>(f.Tab->btnStartSkan),
          static_cast<QWidget*>(f.Tab->btnAbortScaning), static_cast<QWidget*>(f.Tab->ScanAnimationNotebook),
          static_cast<QWidget*>(f.Tab->ScanResultNotebook)})
        EXPECT_FALSE(progress.intersects(other->geometry())) << other->objectName().toStdString();
    const QRect needed = QFontMetrics(f.Tab->lblScanProgress->font())
                             .boundingRect(QRect(0, 0, progress.width(), 1000), Qt::TextWordWrap,
                                           f.Tab->lblScanProgress->text());
    EXPECT_LE(needed.height(), progress.height());

    QTest::mouseClick(f.Tab->btnAbortScaning, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !f.Scan->IsScanning(); }));
    EXPECT_EQ(f.Tab->lblScanDirectory->text().toStdString(), "Przerwa na życzenie użytkownika.");
    EXPECT_EQ(f.Tab->lblScanDirectory->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    EXPECT_EQ(f.Tab->ScanAnimationNotebook->currentIndex(), 0);
    EXPECT_FALSE(f.Tab->aniScaning->IsRunning());
    EXPECT_TRUE(f.Tab->lblScanProgress->isHidden());
    EXPECT_EQ(f.TrayStates, (std::vector<int>{trayScanning, trayReset}));
    EXPECT_EQ(f.Ini->ReadInt("last_scan", -1, "main"), -1);
}

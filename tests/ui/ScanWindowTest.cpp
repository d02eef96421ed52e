// The disk scan in the real main window: a dial request sent with vardel-hook while a scan of a
// large tree runs is decided and answered at once, and the scan then completes with its list.
#include "support/MainWindowRig.h"
#include "support/TempDir.h"

#include "platform/linux/uLinuxFileSearch.h"
#include "ui/ufConnection.h"
#include "ui/ufScanTab.h"

#include "fakes/FakeScanPorts.h"

#include "UiTestUtil.h"

#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

const std::string kDialer = "MZdial";
const std::string kDialerLine = "6-5A------------------------------6C";

} // namespace

TEST(ScanWindow, ADialRequestDuringAScanIsAnsweredAtOnceAndTheScanCompletes) {
    TTempDir tree;
    for (int d = 0; d < 200; ++d) {
        std::string name = "d";
        name += std::to_string(d);
        const std::string dir = tree / name;
        std::filesystem::create_directories(dir);
        for (int f = 0; f < 100; ++f)
            std::ofstream(dir + "/f" + std::to_string(f) + (f % 10 == 0 ? ".exe" : ".dat")).put('x');
    }
    const std::string first = tree.Write("d7/.wine/setup.exe", kDialer);
    const std::string second = tree.Write("d150/saver.scr", kDialer);

    TMainWindowRig rig;
    TFakeFixedDrives drives;
    drives.Drives = {tree.Path() + "/"};
    TLinuxFileSearch search;
    TThreadJob worker;
    TLinuxMonotonicClock ticks;
    TFakeClock clock;
    const TScanServices services{
        .FixedDrives = drives, .FileSearch = search, .Worker = worker, .Ticks = ticks, .Clock = clock};
    rig.Scan = &services;
    // The database reads through the rig's in-memory file system: it holds the database and the
    // two dialers' bytes under their real paths.
    rig.Files.Put(rig.AppDir() + "Sygn.ini", kDialerLine + "\n");
    rig.Files.Put(first, kDialer);
    rig.Files.Put(second, kDialer);
    TfrmMain& frm = rig.Start();
    TScanController* scan = frm.Subsystems().Scan();
    ASSERT_NE(scan, nullptr);

    // The drain timer is a fake of the rig's: a real timer ticks it, from the moment the prompt
    // is up, so the request surely arrives while the scan runs and the scan goes on under it.
    QTimer drain;
    drain.setInterval(kScanDrainInterval);
    QObject::connect(&drain, &QTimer::timeout, [scan] { scan->DrainScanResults(); });

    frm.ScanTab->btnStartSkan->click();
    ASSERT_TRUE(scan->IsScanning());

    // The request arrives on its own, so the prompt opens inside whatever loop runs then: a
    // timer, which fires in every loop, answers it.
    bool scanningAtPrompt = false;
    bool answered = false;
    QElapsedTimer sinceAnswer;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* prompt = dynamic_cast<TfrmConnection*>(QApplication::activeModalWidget());
        if (!prompt || answered)
            return;
        answered = true;
        scanningAtPrompt = scan->IsScanning();
        drain.start();
        sinceAnswer.start();
        QTest::keyClick(prompt, Qt::Key_Escape); // "Odrzuć": the dial is refused
    });
    answer.start();
    QProcess client;
    qint64 answeredAfterMs = -1;
    QObject::connect(&client, &QProcess::readyReadStandardOutput, [&] {
        if (answeredAfterMs < 0)
            answeredAfterMs = sinceAnswer.elapsed();
    });
    client.start(QStringLiteral(QM_TEST_BIN_DIR "/vardel-hook"),
                 {QStringLiteral("--socket"), QString::fromStdString(rig.HookSocketPath()),
                  QStringLiteral("dial"), QStringLiteral("0700123456")});
    ASSERT_TRUE(client.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return client.state() == QProcess::NotRunning; }, 20000));
    EXPECT_TRUE(scanningAtPrompt);
    EXPECT_EQ(client.readAllStandardOutput().trimmed().toStdString(), "1");
    EXPECT_GE(answeredAfterMs, 0);
    EXPECT_LT(answeredAfterMs, 100);

    drain.start();
    ASSERT_TRUE(WaitFor([&] { return !scan->IsScanning(); }, 60000));
    std::vector<std::string> found = scan->FoundDialers();
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{second, first}));
    EXPECT_EQ(frm.ScanTab->lstFoundDialers->count(), 2);
    EXPECT_EQ(frm.PageControl->currentWidget(), frm.ScanTab);
}

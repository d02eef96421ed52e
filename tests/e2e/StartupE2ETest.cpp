// The program's start as a user meets it: the real program on Xvfb with its own folder, a phone
// book of two pppd peers in a tree of the test's own (Work dials 020 21 22, Fun the premium
// 0700 12 34) and a stand-in line feed. Each test walks one way through the creation sequence,
// seen from outside through the windows it maps and the files it writes: the first run (help,
// then the picker), a later run (the running-dialer prompt, then one alarm about Fun), a missing
// hook library (its box, the window without the entry check) and a start in the tray. Skips when
// Xvfb or xdotool is not installed; the tray test also needs dbus-daemon.
#include "ProgramOnXvfb.h"

#include "support/StandInLineFeed.h"

#include <QRandomGenerator>

namespace {

// A later run's settings: Work's number is allowed, Fun's is not, the entry check is on (default).
constexpr const char* kLaterRunIni = "[main]\nfirst_run_flg=0\nsound_effect=0\n"
                                     "[allowed_connections]\n0=020 21 22\n";

class StartupE2E : public TProgramOnXvfb {
protected:
    void BeforeStart() override {
        const QString etc = FTemp.filePath(QStringLiteral("etc"));
        for (const auto& [name, number] : {std::pair{"Work", "020 21 22"}, {"Fun", "0700 12 34"}}) {
            ASSERT_TRUE(QDir().mkpath(etc + "/ppp/peers") && QDir().mkpath(etc + "/chatscripts"));
            WriteText(etc + "/ppp/peers/" + name,
                      QByteArray("/dev/ttyS0\n115200\nconnect \"/usr/sbin/chat -v -f /etc/chatscripts/") +
                          name + "\"\n");
            WriteText(etc + "/chatscripts/" + name,
                      QByteArray("ABORT BUSY\n'' ATZ\nOK-AT-OK \"ATDT") + number + "\"\nCONNECT \\d\\c\n");
        }
        FEnv.insert(QStringLiteral("QMVARDEL_ETC_DIR"), etc);
        const QString feed = FTemp.filePath(QStringLiteral("line.sock"));
        ASSERT_TRUE(Feed.Listen(feed.toStdString()));
        FEnv.insert(QStringLiteral("VARDELD_LINE_SOCKET"), feed);
        WriteText(FApp + "/QmVardel.ini", kLaterRunIni);
        // Every dialog of the sequence comes before the main window.
        FWaitForMainWindow = false;
    }

    // A copy of sleep, already running when the program starts, that the program's database knows
    // as a dialer: the running-dialer check asks about it. The check looks at every process of the
    // machine and a refused dialer is ended and its file moved away, so the copy gets a tail of
    // random bytes: a fingerprint of its own, never the system's sleep or anyone's running copy.
    void StartRunningDialer() {
        const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
        const QString dialer = FTemp.filePath(QStringLiteral("dialer"));
        ASSERT_TRUE(QFile::copy(sleep, dialer));
        QFile file(dialer);
        ASSERT_TRUE(file.open(QIODevice::Append));
        QByteArray tail(static_cast<int>(1000 + QRandomGenerator::system()->bounded(3000)), '\0');
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(tail.data()), tail.size() / 4);
        file.write(tail);
        file.close();
        const QString fingerprint = Fingerprint(dialer);
        ASSERT_FALSE(fingerprint.isEmpty());
        ASSERT_NE(fingerprint, Fingerprint(sleep));
        QFile database(FApp + "/Sygn.ini");
        ASSERT_TRUE(database.open(QIODevice::Append));
        database.write("\n" + fingerprint.toUtf8() + "\n");
        database.close();
        FDialer.start(dialer, {"300"});
        ASSERT_TRUE(FDialer.waitForStarted(5000));
    }

    static QString Fingerprint(const QString& file) {
        QProcess sig;
        sig.start(QStringLiteral(QM_TEST_BIN_DIR "/qmvardel-sig"), {"fingerprint", file});
        if (!sig.waitForFinished(10000) || sig.exitCode() != 0)
            return QString();
        return QString::fromUtf8(sig.readAllStandardOutput()).trimmed();
    }

    // The one visible window with the title; empty when none (or more than one) shows in time.
    QString WaitForWindow(const QString& title) const {
        QStringList found;
        WaitUntil([&] { return (found = Windows(title)).size() == 1; });
        return found.size() == 1 ? found.first() : QString();
    }

    // Presses "Połącz" of the status tab by where it lies; true when the dial dialog of the entry
    // comes up (and is closed again). The press hits it only while the status tab is shown.
    bool DialDialogOfEntryOpens(const QString& mainWindow, const QString& entry) const {
        Xdotool({"windowactivate", "--sync", mainWindow});
        Xdotool(
            {"mousemove", "--window", mainWindow, "379", QString::number(180 + kTabBarHeight), "click", "1"});
        const QString dialog = WaitForWindow("^Połącz z " + entry + "$");
        if (!dialog.isEmpty())
            Keys(dialog, {"Escape"});
        return !dialog.isEmpty();
    }

    std::string AllowedSection() const {
        const std::string ini = Ini();
        const std::size_t start = ini.find("[allowed_connections]");
        return start == std::string::npos ? std::string() : ini.substr(start, ini.find("\n[", start) - start);
    }

    void TearDown() override {
        TProgramOnXvfb::TearDown();
        for (QProcess* helper : {&FDialer, &FWatcher, &FBus}) {
            helper->kill();
            helper->waitForFinished(5000);
        }
    }

    // Reads what a helper printed until it holds the text; all of it, or empty on time-out.
    static QString ReadUntil(QProcess& helper, const QString& text, QString& got) {
        WaitUntil([&] {
            helper.waitForReadyRead(100);
            got += QString::fromUtf8(helper.readAllStandardOutput());
            return got.contains(text);
        });
        return got.contains(text) ? got : QString();
    }

    static constexpr int kTabBarHeight = 26;
    TStandInLineFeed Feed;
    QProcess FDialer;
    // The tray's private session bus and the notification-area host on it.
    QProcess FBus, FWatcher;
    QString FWatcherOutput;
};

class FirstRun : public StartupE2E {
    void BeforeStart() override {
        StartupE2E::BeforeStart();
        // A user's first start: no settings file yet.
        QFile::remove(FApp + "/QmVardel.ini");
    }
};

class LaterRun : public StartupE2E {
    void BeforeStart() override {
        StartupE2E::BeforeStart();
        StartRunningDialer();
    }
};

class WithoutHookLibrary : public StartupE2E {
    void BeforeStart() override {
        StartupE2E::BeforeStart();
        QFile::remove(FApp + "/libVardelHk.so");
        StartRunningDialer();
    }
};

// "tray" on the command line, with a notification area: a private session bus with the tray
// suite's stand-in host on it.
class InTray : public StartupE2E {
    void BeforeStart() override {
        StartupE2E::BeforeStart();
        const QString host = QStringLiteral(QM_TEST_BIN_DIR "/tests_desktop_tray");
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty() || !QFile::exists(host))
            GTEST_SKIP() << "dbus-daemon or the tray suite's host is missing";
        FBus.start(QStringLiteral("dbus-daemon"),
                   {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QString address;
        ASSERT_FALSE(ReadUntil(FBus, QStringLiteral("\n"), address).isEmpty()) << "no session bus";
        FEnv.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address.trimmed());
        // A theme plugin of the machine could bring a tray of its own.
        FEnv.remove(QStringLiteral("QT_QPA_PLATFORMTHEME"));
        FWatcher.setProcessEnvironment(FEnv);
        FWatcher.start(host, {"--fake-status-notifier-watcher"});
        ASSERT_FALSE(ReadUntil(FWatcher, QStringLiteral("ready\n"), FWatcherOutput).isEmpty())
            << "no notification-area host";
        FArguments = QStringList{QStringLiteral("tray")};
    }
};

} // namespace

TEST_F(FirstRun, HelpThenPickerWhoseOkMakesTheAllowedListTheTickedNumber) {
    const QString picker = WaitForWindow("^Ustawienia połączeń modemowych$");
    ASSERT_FALSE(picker.isEmpty()) << Log();
    EXPECT_EQ(Windows("^QmVardel - Pomoc$").size(), 1) << "the help opens before the picker";
    EXPECT_TRUE(Windows("^Qm Vardel$").isEmpty());
    // A first run with the rights to the autostart folder starts the program there, in the tray.
    QFile autostart(FTemp.filePath(QStringLiteral("xdg/autostart/QmVardel.desktop")));
    EXPECT_TRUE(autostart.open(QIODevice::ReadOnly) &&
                autostart.readAll().contains("Exec=\"" + FApp.toUtf8() + "/QmVardel\" tray"));
    // Work is ticked, Fun (a 07 number) is not: Ok takes Work's number alone.
    Keys(picker, {"Return"});
    ASSERT_FALSE(WaitForWindow("^Qm Vardel$").isEmpty()) << Log();
    EXPECT_EQ(AllowedSection(), "[allowed_connections]\n0=020 21 22\n");
    EXPECT_TRUE(Windows("^QmVardel$").isEmpty()) << "no entry check on a first run";
    EXPECT_TRUE(Feed.WaitSubscribed());
}

TEST_F(LaterRun, RunningDialerIsAskedAboutThenOneAlarmPerEntryNotAllowed) {
    const QString dialerPrompt = WaitForWindow("^Qm Vardel$");
    ASSERT_FALSE(dialerPrompt.isEmpty()) << Log();
    EXPECT_TRUE(Windows("^QmVardel$").isEmpty()) << "the entry check waits for the running-dialer check";
    // "Uruchom Dialer" leaves it running.
    Keys(dialerPrompt, {"Tab", "space"});
    const QString alarm = WaitForPrompts(1);
    ASSERT_FALSE(alarm.isEmpty()) << Log();
    EXPECT_EQ(FDialer.state(), QProcess::Running);
    Keys(alarm, {"Return"});
    // The main window shows once the sequence is over: Fun was the only entry to warn about.
    QString mainWindow;
    ASSERT_TRUE(WaitUntil([&] {
        mainWindow = Windows("^Qm Vardel$").value(0);
        return !mainWindow.isEmpty() && mainWindow != dialerPrompt;
    })) << Log();
    EXPECT_TRUE(Windows("^QmVardel$").isEmpty());
    EXPECT_TRUE(Windows("^(QmVardel - Pomoc|Ustawienia połączeń modemowych)$").isEmpty());
    EXPECT_TRUE(Feed.WaitSubscribed());
    EXPECT_EQ(AllowedSection(), "[allowed_connections]\n0=020 21 22\n");
}

// The end of work closes an open prompt; nobody answered it, so nothing is removed.
TEST_F(LaterRun, EndOfWorkDuringTheDialerPromptLeavesTheDialerAlone) {
    ASSERT_FALSE(WaitForWindow("^Qm Vardel$").isEmpty()) << Log();
    FProgram.terminate();
    ASSERT_TRUE(FProgram.waitForFinished(15000)) << Log();
    EXPECT_EQ(FProgram.exitCode(), 0);
    EXPECT_EQ(FDialer.state(), QProcess::Running);
    EXPECT_TRUE(QFile::exists(FTemp.filePath(QStringLiteral("dialer"))));
    EXPECT_FALSE(QFile::exists(FApp + "/back/dialer"));
}

TEST_F(WithoutHookLibrary, ErrorBoxThenStatusTabWithEntriesAndNoChecks) {
    const QString box = WaitForWindow("^Błąd$");
    ASSERT_FALSE(box.isEmpty()) << Log();
    EXPECT_TRUE(Feed.WaitSubscribed()) << "the line monitor starts before the hook file check";
    Keys(box, {"Return"});
    // Without the hook start the window keeps its first title; no dialer prompt, no alarm came.
    const QString mainWindow = WaitForWindow("^Qm Vardel $");
    ASSERT_FALSE(mainWindow.isEmpty()) << Log();
    EXPECT_TRUE(Windows("^(Qm Vardel|QmVardel)$").isEmpty());
    EXPECT_TRUE(DialDialogOfEntryOpens(mainWindow, "Fun")) << "status tab with the first entry selected\n"
                                                           << Log();
}

TEST_F(InTray, SequenceRunsInFullWhileOnlyTheTrayIconShows) {
    // The entry check is the last step: its alarm shows the sequence got there.
    const QString alarm = WaitForPrompts(1);
    ASSERT_FALSE(alarm.isEmpty()) << Log();
    EXPECT_TRUE(Feed.WaitSubscribed());
    Keys(alarm, {"Return"});
    // A dial request answered after the alarm is answered by the message loop, past the point where
    // the window is shown or not.
    auto hook = StartHook({"dial", "--tag", "1", "020 21 22"});
    EXPECT_EQ(ResultOf(*hook), "0") << Log();
    EXPECT_TRUE(Windows("^Qm Vardel ?$").isEmpty()) << "the main window is mapped";
    EXPECT_FALSE(ReadUntil(FWatcher, QStringLiteral("item "), FWatcherOutput).isEmpty()) << "no tray icon";
}

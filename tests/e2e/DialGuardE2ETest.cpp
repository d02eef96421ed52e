// The dial guard end to end: the real program on Xvfb, in a temporary copy of its folder with a
// settings file of its own, asked by vardel-hook as the hook library would, its prompt answered
// with keys sent by xdotool. Skips when Xvfb or xdotool is not installed.
#include "ProgramOnXvfb.h"

#include <sys/mount.h>

namespace {

using DialGuardE2E = TProgramOnXvfb;

} // namespace

TEST_F(DialGuardE2E, ListedNumberPassesWithoutPrompt) {
    auto hook = StartHook({"dial", "--tag", "1", "0202122"});
    EXPECT_EQ(ResultOf(*hook), "0");
    EXPECT_TRUE(Windows("^QmVardel$").isEmpty());
}

TEST_F(DialGuardE2E, PromptIsAnsweredWithKeys) {
    struct TCase {
        const char* Name;
        QStringList Keys;
        std::string Result;
    } cases[] = {
        {"Enter rejects", {"Return"}, "1"},
        {"Escape rejects", {"Escape"}, "1"},
        {"Tab then space connects", {"Tab", "space"}, "0"},
    };
    std::uint32_t tag = 10;
    for (const TCase& c : cases) {
        auto hook = StartHook({"dial", "--tag", QString::number(tag++), "0300"});
        const QString prompt = WaitForPrompts(1);
        ASSERT_FALSE(prompt.isEmpty()) << c.Name << "\n" << Log();
        Keys(prompt, c.Keys);
        EXPECT_EQ(ResultOf(*hook), c.Result) << c.Name;
        EXPECT_TRUE(WaitForPrompts(0).isEmpty()) << c.Name;
    }
}

TEST_F(DialGuardE2E, AddToListStoresTheNumber) {
    auto hook = StartHook({"dial", "--tag", "3", "+0 700 12"});
    const QString prompt = WaitForPrompts(1);
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Tab", "Tab", "space"});
    EXPECT_EQ(ResultOf(*hook), "0");
    EXPECT_NE(Ini().find("1=0 700 12"), std::string::npos) << Ini();
    // From now on it is a listed number, with any tag.
    auto again = StartHook({"dial", "--tag", "99", "0 700 12"});
    EXPECT_EQ(ResultOf(*again), "0");
    EXPECT_TRUE(Windows("^QmVardel$").isEmpty());
}

TEST_F(DialGuardE2E, SecondRequestDuringAnOpenPromptIsAnsweredFirst) {
    auto first = StartHook({"dial", "--tag", "1", "0400"});
    const QString firstPrompt = WaitForPrompts(1);
    ASSERT_FALSE(firstPrompt.isEmpty()) << Log();

    // A listed number passes at once although a prompt is open.
    auto listed = StartHook({"dial", "--tag", "2", "0202122"});
    EXPECT_EQ(ResultOf(*listed), "0");
    // An unlisted one gets its own prompt on top and is answered before the first.
    auto second = StartHook({"dial", "--tag", "3", "0500"});
    const QString secondPrompt = WaitForPrompts(2);
    ASSERT_FALSE(secondPrompt.isEmpty()) << Log();
    EXPECT_NE(secondPrompt, firstPrompt);
    Keys(secondPrompt, {"Tab", "space"});
    EXPECT_EQ(ResultOf(*second), "0");
    EXPECT_EQ(first->state(), QProcess::Running);

    const QString remaining = WaitForPrompts(1);
    ASSERT_EQ(remaining, firstPrompt);
    Keys(firstPrompt, {"Escape"});
    EXPECT_EQ(ResultOf(*first), "1");
}

TEST_F(DialGuardE2E, EndOfWorkIsNotHeldUpByAnOpenPrompt) {
    auto hook = StartHook({"dial", "--tag", "1", "0600"});
    ASSERT_FALSE(WaitForPrompts(1).isEmpty()) << Log();
    FProgram.terminate();
    ASSERT_TRUE(FProgram.waitForFinished(15000)) << Log();
    EXPECT_EQ(FProgram.exitCode(), 0);
    // The request got no answer; the sender says so instead of hanging.
    EXPECT_EQ(ResultOf(*hook).substr(0, 9), "(failed 1");
}

// The launched-program guard over the same window: the shipped test file (its fingerprint is in the
// starter database) is a dialer; the prompt shares the main window's title "Qm Vardel".
TEST_F(DialGuardE2E, DialerStartIsLetThroughOrRemovedAsTheUserAnswers) {
    const QString dialer = FApp + "/qmvardel-test.sh";
    const QString mainWindow = Windows("^Qm Vardel$").value(0);
    const auto dialerPrompt = [&] {
        return WaitForOtherWindow("^Qm Vardel$", mainWindow);
    };

    // "Uruchom Dialer" (one Tab from the focused "  Usuń Dialer") lets it start and leaves it.
    auto allowed = StartHook({"start", dialer});
    QString prompt = dialerPrompt();
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Tab", "space"});
    EXPECT_EQ(ResultOf(*allowed), "0");
    EXPECT_TRUE(QFile::exists(dialer));

    // Enter presses "  Usuń Dialer": the file goes into the quarantine, a box says where, and the
    // start is refused once the box is closed.
    auto removed = StartHook({"start", dialer});
    prompt = dialerPrompt();
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Return"});
    // The information box that says where the file went carries its kind's title.
    QString box;
    WaitUntil([&] {
        box = Windows("^Informacja$").value(0);
        return !box.isEmpty();
    });
    ASSERT_FALSE(box.isEmpty()) << Log();
    EXPECT_EQ(removed->state(), QProcess::Running);
    Keys(box, {"Return"});
    EXPECT_EQ(ResultOf(*removed), "1");
    EXPECT_FALSE(QFile::exists(dialer));
    EXPECT_TRUE(QFile::exists(FApp + "/back/qmvardel-test.sh"));
    QFile log(FApp + "/back/log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Wykryto dialer: " + dialer.toUtf8()));

    // Another program starts without a word.
    auto harmless = StartHook({"start", FApp + "/vardel-hook"});
    EXPECT_EQ(ResultOf(*harmless), "0");
    EXPECT_TRUE(WaitForPrompts(0).isEmpty());
    EXPECT_EQ(Windows("^Qm Vardel$"), QStringList{mainWindow});
}

// The same program with the real hook library and a real hook service, as root: program starts on
// a tmpfs this test mounts (the only filesystem the service watches) go to the guard.
class ProgramStartE2E : public TProgramOnXvfb {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "program-start interception needs root";
        ASSERT_TRUE(FTemp.isValid());
        FMount = FTemp.filePath(QStringLiteral("mnt"));
        ASSERT_TRUE(QDir().mkpath(FMount));
        if (::mount("tmpfs", FMount.toLocal8Bit().constData(), "tmpfs", 0, "size=16m,mode=0755") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here";
        FMounted = true;
        // The guard, run as root, would start a service itself when none listens: this one is its
        // own, watching the tmpfs only.
        const QString serviceDir = FTemp.filePath(QStringLiteral("service"));
        ASSERT_TRUE(QDir().mkpath(serviceDir + "/run"));
        WriteText(serviceDir + "/vardeld.conf", ("exec_mounts = " + FMount + "\nrun_dir = " + serviceDir +
                                                 "/run\nlock_dir = " + serviceDir + "\n")
                                                    .toLocal8Bit());
        FControl = serviceDir + "/run/control.sock";
        FService.setStandardErrorFile(serviceDir + "/vardeld.log");
        FService.start(QStringLiteral(QM_TEST_BIN_DIR) + "/vardeld",
                       {QStringLiteral("--config"), serviceDir + "/vardeld.conf"});
        ASSERT_TRUE(FService.waitForStarted(10000));
        ASSERT_TRUE(WaitUntil([&] { return QFile::exists(FControl); })) << ServiceLog();
        TProgramOnXvfb::SetUp();
    }

    void BeforeStart() override {
        QFile::remove(FApp + "/libVardelHk.so");
        ASSERT_TRUE(
            QFile::copy(QStringLiteral(QM_TEST_BIN_DIR) + "/libVardelHk.so", FApp + "/libVardelHk.so"));
        FEnv.insert(QStringLiteral("VARDELD_CONTROL_SOCKET"), FControl);
    }

    void TearDown() override {
        TProgramOnXvfb::TearDown(); // the guard first: the service then allows at once
        if (FService.state() != QProcess::NotRunning) {
            FService.terminate();
            if (!FService.waitForFinished(10000)) {
                FService.kill();
                FService.waitForFinished(5000);
            }
        }
        if (FMounted)
            ::umount2(FMount.toLocal8Bit().constData(), MNT_DETACH);
    }

    std::string ServiceLog() const {
        QFile file(FTemp.filePath(QStringLiteral("service/vardeld.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    // "sh -c COMMAND", started in the background: a refused start waits for the user's answer.
    std::unique_ptr<QProcess> Shell(const QString& command) const {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(FEnv);
        p->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        p->waitForStarted(5000);
        return p;
    }

    QString FMount, FControl;
    bool FMounted = false;
    QProcess FService;
};

TEST_F(ProgramStartE2E, DialerStartedFromAShellFailsWhileAnOrdinaryProgramRuns) {
    const QString dialer = FMount + "/qmvardel-test.sh";
    ASSERT_TRUE(QFile::copy(FApp + "/qmvardel-test.sh", dialer));
    QFile::setPermissions(dialer, QFile::permissions(dialer) | QFileDevice::ExeOwner | QFileDevice::ExeOther);
    const QString ordinary = FMount + "/prog";
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/true"), ordinary));
    const QString mainWindow = Windows("^Qm Vardel$").value(0);

    auto ran = Shell(ordinary);
    ASSERT_TRUE(ran->waitForFinished(15000)) << Log() << ServiceLog();
    EXPECT_EQ(ran->exitCode(), 0);
    EXPECT_EQ(Windows("^Qm Vardel$"), QStringList{mainWindow});

    const auto dialerPrompt = [&] {
        return WaitForOtherWindow("^Qm Vardel$", mainWindow);
    };

    // "Uruchom Dialer" lets this one start only: the next start is asked about again, also once
    // the file has kept its times long enough for the service to remember answers about it.
    QThread::msleep(1100);
    auto allowed = Shell(dialer);
    QString prompt = dialerPrompt();
    ASSERT_FALSE(prompt.isEmpty()) << Log() << ServiceLog();
    Keys(prompt, {"Tab", "space"});
    ASSERT_TRUE(allowed->waitForFinished(15000)) << Log() << ServiceLog();
    EXPECT_EQ(allowed->exitCode(), 0);
    EXPECT_TRUE(allowed->readAllStandardOutput().contains("To jest plik testowy"));
    ASSERT_TRUE(WaitUntil([&] { return Windows("^Qm Vardel$") == QStringList{mainWindow}; }));

    auto refused = Shell(dialer);
    prompt = dialerPrompt();
    ASSERT_FALSE(prompt.isEmpty()) << Log() << ServiceLog();
    Keys(prompt, {"Return"}); // "  Usuń Dialer"
    QString box;
    WaitUntil([&] {
        box = Windows("^Informacja$").value(0);
        return !box.isEmpty();
    });
    ASSERT_FALSE(box.isEmpty()) << Log();
    Keys(box, {"Return"});
    ASSERT_TRUE(refused->waitForFinished(15000)) << Log() << ServiceLog();
    EXPECT_NE(refused->exitCode(), 0);
    EXPECT_FALSE(refused->readAllStandardOutput().contains("To jest plik testowy"));
    EXPECT_FALSE(QFile::exists(dialer));
    EXPECT_TRUE(QFile::exists(FApp + "/back/qmvardel-test.sh"));

    // The ordinary program still runs, without a word.
    auto again = Shell(ordinary);
    ASSERT_TRUE(again->waitForFinished(15000));
    EXPECT_EQ(again->exitCode(), 0);
    EXPECT_EQ(Windows("^Qm Vardel$"), QStringList{mainWindow});
}

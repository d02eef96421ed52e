// The single-instance rule with real processes: copies of the program in temporary folders, each
// with its own settings file, on the offscreen platform.
#include "ui/uSingleInstance.h"

#include "UiTestUtil.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class TProgramCopies : public ::testing::Test {
protected:
    QTemporaryDir Dir;

    QString Install(const QString& folder) {
        const QString path = Dir.filePath(folder);
        QDir().mkpath(path);
        fs::copy_file(QM_TEST_BIN_DIR "/QmVardel", (path + "/QmVardel").toStdString());
        ResetSettings(path);
        return path;
    }

    static void ResetSettings(const QString& folder) {
        QFile ini(folder + "/QmVardel.ini");
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[main]\nfirst_run_flg=0\n");
    }

    std::unique_ptr<QProcess> Run(const QString& folder) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", Dir.filePath("run"));
        env.insert("XDG_CONFIG_DIRS", Dir.filePath("xdg"));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(folder + "/QmVardel", {});
        EXPECT_TRUE(process->waitForStarted(5000));
        return process;
    }

    static QByteArray Settings(const QString& folder) {
        QFile ini(folder + "/QmVardel.ini");
        return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
    }

    // Up when its settings are loaded (scan_frequency is written back at every start) and it
    // answers on its instance socket.
    bool WaitUntilUp(const QString& folder) {
        const QString socket =
            TSingleInstance(folder + "/QmVardel", Dir.filePath("run/QmVardel")).SocketPath();
        return WaitFor(
            [&] {
                if (!Settings(folder).contains("scan_frequency"))
                    return false;
                QLocalSocket probe;
                probe.connectToServer(socket);
                return probe.waitForConnected(100);
            },
            20000);
    }

    void SetUp() override {
        QDir().mkpath(Dir.filePath("run"));
        fs::permissions(Dir.filePath("run").toStdString(), fs::perms::owner_all);
    }
};

TEST_F(TProgramCopies, SecondCopyOfTheSameExecutableExitsZeroWithoutTouchingTheSettings) {
    const QString a = Install("a");
    auto first = Run(a);
    ASSERT_TRUE(WaitUntilUp(a));
    const QByteArray before = Settings(a);

    auto second = Run(a);
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(Settings(a), before) << "byte for byte unchanged";
    EXPECT_EQ(first->state(), QProcess::Running);

    // A copy in another folder is another program: it runs beside the first.
    const QString b = Install("b");
    auto other = Run(b);
    ASSERT_TRUE(WaitUntilUp(b));
    EXPECT_EQ(other->state(), QProcess::Running);

    // The end of the user's work (SIGTERM) ends both cleanly.
    for (QProcess* p : {first.get(), other.get()}) {
        p->terminate();
        ASSERT_TRUE(p->waitForFinished(20000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }
}

TEST_F(TProgramCopies, SocketLeftByACrashedCopyDoesNotBlockTheNextStart) {
    const QString a = Install("a");
    auto crashed = Run(a);
    ASSERT_TRUE(WaitUntilUp(a));
    crashed->kill();
    ASSERT_TRUE(crashed->waitForFinished(20000));
    ResetSettings(a);

    auto next = Run(a);
    ASSERT_TRUE(WaitUntilUp(a));
    EXPECT_EQ(next->state(), QProcess::Running);
    next->terminate();
    ASSERT_TRUE(next->waitForFinished(20000));
    EXPECT_EQ(next->exitCode(), 0);
}

TEST(SingleInstance, LaterCopyAsksTheFirstToComeForwardAndOtherPathsAreApart) {
    QTemporaryDir dir;
    TSingleInstance first("/opt/a/QmVardel", dir.path());
    int forwards = 0;
    first.OnBringForward = [&] {
        ++forwards;
    };
    ASSERT_TRUE(first.Register());
    TSingleInstance second("/opt/a/QmVardel", dir.path());
    EXPECT_FALSE(second.Register());
    EXPECT_TRUE(WaitFor([&] { return forwards == 1; }));
    // Letter case counts on this platform: another spelling is another program.
    TSingleInstance other("/opt/A/QmVardel", dir.path());
    EXPECT_TRUE(other.Register());
    EXPECT_NE(other.SocketPath(), first.SocketPath());
}

} // namespace

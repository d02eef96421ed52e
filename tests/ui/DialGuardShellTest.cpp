#include "ui/uDialGuardShell.h"
#include "ui/ufConnection.h"
#include "ui/ufDialDialog.h"

#include "fakes/FakeHookEndpoint.h"
#include "fakes/FakeHookLibrary.h"
#include "fakes/FakePorts.h"
#include "fakes/FakeRemoteAccess.h"
#include "platform/linux/uLinuxHookEndpoint.h"
#include "support/TempDir.h"

#include "RecordingAlarmHost.h"
#include "UiTestUtil.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

struct TShellFixture {
    TTempDir Temp;
    std::string Dir = Temp.Path();
    TRecordingAlarmHost Host;
    TAllowedList List;
    TFakeFileSystem Fs;
    TFakeRemoteAccess Remote;
    TFakeHookLibrary Library;
    TLinuxHookEndpoint Endpoint;
    TProgramStartsAllowed ProgramStarts;
    std::vector<std::string> Errors;
    std::string Title;
    std::unique_ptr<TDialGuardShell> Shell;

    TShellFixture() {
        List.Assign({"0202122"});
        Shell = std::make_unique<TDialGuardShell>(Context(Endpoint));
    }
    TDialGuardShellContext Context(IHookEndpoint& endpoint) {
        return {.Services = {.FileSystem = Fs,
                             .RemoteAccess = Remote,
                             .HookLibrary = Library,
                             .HookEndpoint = endpoint,
                             .HookSocketPath = Socket()},
                .Host = Host,
                .AllowedList = List,
                .ProgramStarts = ProgramStarts,
                .AppDir = "/opt/qm/",
                .ChildMode = [] { return false; },
                .ShowError = [this](const std::string& e) { Errors.push_back(e); },
                .SetWindowTitle =
                    [this](const std::string& t) {
                        Title = t;
                    }};
    }
    std::string Socket() const { return Dir + "/QmVardel/hook.sock"; }
};

// Acts on the next modal dialog without waiting itself: the dialog may open in a loop nested
// inside the test's own waiting.
void WhenModalOpens(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start();
}

struct TRun {
    int ExitCode = -1;
    std::string Out, Err;
};

// Runs vardel-hook while the event loop keeps serving the socket.
TRun RunClient(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(QM_TEST_BIN_DIR "/vardel-hook"), args);
    TRun run;
    if (!process.waitForStarted(5000))
        return run;
    WaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000);
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = process.readAllStandardOutput().toStdString();
    run.Err = process.readAllStandardError().toStdString();
    return run;
}

} // namespace

TEST(DialGuardShell, HookClientGetsTheGuardsAnswers) {
    TShellFixture f;
    ASSERT_TRUE(f.Shell->Listen());
    const QString socket = QString::fromStdString(f.Socket());

    TRun listed = RunClient({"--socket", socket, "dial", "--tag", "3", "+0202122"});
    EXPECT_EQ(listed.ExitCode, 0) << listed.Err;
    EXPECT_EQ(listed.Out, "0\n");
    EXPECT_TRUE(f.Host.TrayStates.empty()); // no prompt

    WhenModalOpens([](QWidget* w) {
        auto* prompt = dynamic_cast<TfrmConnection*>(w);
        ASSERT_NE(prompt, nullptr);
        QTest::mouseClick(prompt->btnReject, Qt::LeftButton);
    });
    TRun unlisted = RunClient({"dial", "--socket", socket, "--entry", "dom", "0300"});
    EXPECT_EQ(unlisted.Out, "1\n");
    EXPECT_EQ(f.Shell->Guard().LastNumber(), "0300");

    TRun start = RunClient({"--socket", socket, "start", "--cmdline", "x -y", "/usr/bin/x"});
    EXPECT_EQ(start.Out, "0\n");

    const std::string shortFile = f.Dir + "/short.bin";
    std::ofstream(shortFile, std::ios::binary) << std::string(100, '\1');
    TRun raw = RunClient({"--socket", socket, "raw", "--dwdata", "0", QString::fromStdString(shortFile)});
    EXPECT_EQ(raw.ExitCode, 0);
    EXPECT_EQ(raw.Out, "0\n");

    TRun nobody = RunClient({"--socket", QString::fromStdString(f.Dir + "/none.sock"), "dial", "1"});
    EXPECT_EQ(nobody.ExitCode, 2);
    EXPECT_NE(nobody.Err.find("no guard is listening"), std::string::npos);

    TRun usage = RunClient({"dial", "--tag"});
    EXPECT_EQ(usage.ExitCode, 1);
    TRun help = RunClient({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("vardel-hook [--socket PATH] dial"), std::string::npos);
}

TEST(DialGuardShell, HookStepsAndTheConnectButton) {
    TShellFixture f;
    EXPECT_FALSE(f.Shell->CheckHookFiles());
    EXPECT_EQ(f.Errors, std::vector<std::string>{kMissingHookFilesText});
    f.Fs.Put("/opt/qm/vardeld", "");
    f.Fs.Put("/opt/qm/libVardelHk.so", "");
    EXPECT_TRUE(f.Shell->CheckHookFiles());
    f.Shell->StartHooks();
    EXPECT_EQ(f.Title, "Qm Vardel");
    EXPECT_EQ(f.Library.Loaded, std::vector<std::string>{"/opt/qm/libVardelHk.so"});
    EXPECT_EQ(f.Library.Calls, std::vector<std::string>{"/opt/qm/vardeld"});
    EXPECT_EQ(f.Errors.size(), 1u);

    std::vector<std::string> warnings;
    f.Shell->ConnectEntry(-1, "", nullptr, [&](const std::string& w) { warnings.push_back(w); });
    EXPECT_EQ(warnings, std::vector<std::string>{"Żadne połączenie nie zostało wybrane"});
    OnNextModal([](QWidget* w) {
        auto* dialog = dynamic_cast<TfrmDialDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(dialog->btnDial, Qt::LeftButton);
    });
    f.Shell->ConnectEntry(0, "dom", nullptr, nullptr);
    EXPECT_EQ(f.Remote.Dialed, std::vector<std::string>{"dom"});
}

TEST(DialGuardShell, EndpointThatCannotListenLeavesTheSocketUnserved) {
    TShellFixture f;
    TFakeHookEndpoint endpoint;
    endpoint.ListenError = f.Dir + "/QmVardel belongs to another user; refusing to listen there";
    TDialGuardShell shell(f.Context(endpoint));
    EXPECT_FALSE(shell.Listen());
    EXPECT_EQ(endpoint.Listened, std::vector<std::string>{f.Socket()});
    EXPECT_EQ(shell.Server().ErrorText(), *endpoint.ListenError);
    EXPECT_FALSE(shell.Server().IsListening());
    shell.Stop(); // nothing was listening, so nothing is removed
    EXPECT_TRUE(endpoint.Stopped.empty());
}

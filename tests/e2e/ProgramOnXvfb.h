#pragma once
// The real program on Xvfb, in a temporary copy of its folder with a settings file of its own and
// a runtime folder of its own, driven with vardel-hook and xdotool. Skips when Xvfb or xdotool is
// not installed.
#include "support/PollUntil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 15000) {
    return PollUntil(done, std::chrono::milliseconds(timeoutMs));
}

class TProgramOnXvfb : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        XvfbPath = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        XdotoolPath = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (XvfbPath.isEmpty() || XdotoolPath.isEmpty())
            return;
        // Xvfb picks a free display and tells its number through a pipe.
        int pipeFd[2];
        if (::pipe(pipeFd) != 0)
            return;
        XvfbPid = ::fork();
        if (XvfbPid == 0) {
            ::close(pipeFd[0]);
            const std::string fd = std::to_string(pipeFd[1]);
            const std::string path = XvfbPath.toStdString();
            // -noreset: a program started again right after the last client left would otherwise
            // meet the server in its reset and be turned away.
            ::execl(path.c_str(), path.c_str(), "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                    "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFd[1]);
        char buffer[32] = {};
        std::size_t got = 0;
        while (got < sizeof(buffer) - 1) {
            const ssize_t n = ::read(pipeFd[0], buffer + got, sizeof(buffer) - 1 - got);
            if (n <= 0 || buffer[got + n - 1] == '\n') {
                got += n > 0 ? static_cast<std::size_t>(n) : 0;
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        ::close(pipeFd[0]);
        const QString number = QString::fromLatin1(buffer, static_cast<int>(got)).trimmed();
        if (!number.isEmpty())
            Display = QStringLiteral(":") + number;
    }

    static void TearDownTestSuite() {
        if (XvfbPid > 0) {
            ::kill(XvfbPid, SIGTERM);
            ::waitpid(XvfbPid, nullptr, 0);
            XvfbPid = -1;
        }
    }

    void SetUp() override {
        if (XvfbPath.isEmpty() || XdotoolPath.isEmpty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed (scripts/setup.sh installs them)";
        ASSERT_FALSE(Display.isEmpty()) << "Xvfb did not start";
        ASSERT_TRUE(FTemp.isValid());
        FApp = FTemp.filePath(QStringLiteral("app"));
        FRun = FTemp.filePath(QStringLiteral("run"));
        ASSERT_TRUE(QDir().mkpath(FApp));
        ASSERT_TRUE(QDir().mkpath(FRun));
        QFile::setPermissions(FRun, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString bin = QStringLiteral(QM_TEST_BIN_DIR);
        for (const char* file :
             {"QmVardel", "vardel-hook", "QmVardel.html", "alert.wav", "Sygn.ini", "qmvardel-test.sh"})
            QFile::copy(bin + "/" + file, FApp + "/" + file);
        for (const char* dir : {"Skins", "Images"})
            CopyTree(bin + "/" + dir, FApp + "/" + dir);
        ASSERT_TRUE(QFile::copy(QStringLiteral(QM_STUB_HOOKLIB), FApp + "/libVardelHk.so"));
        WriteText(FApp + "/vardeld", "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(FApp + "/vardeld",
                              QFile::permissions(FApp + "/vardeld") | QFileDevice::ExeOwner);
        WriteText(FApp + "/QmVardel.ini", "[main]\nfirst_run_flg=0\nsound_effect=0\ncheck_entries=0\n"
                                          "[allowed_connections]\n0=0202122\n");

        FEnv = QProcessEnvironment::systemEnvironment();
        FEnv.insert(QStringLiteral("DISPLAY"), Display);
        FEnv.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRun);
        FEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        FEnv.insert(QStringLiteral("XDG_CONFIG_DIRS"), FTemp.filePath(QStringLiteral("xdg")));
        BeforeStart();
        if (HasFatalFailure() || IsSkipped())
            return;
        FProgram.setProcessEnvironment(FEnv);
        FProgram.setStandardOutputFile(FTemp.filePath(QStringLiteral("program.log")));
        FProgram.setStandardErrorFile(FTemp.filePath(QStringLiteral("program.log")), QIODevice::Append);
        FProgram.start(FApp + "/QmVardel", FArguments);
        ASSERT_TRUE(FProgram.waitForStarted(10000));
        ASSERT_TRUE(WaitUntil([&] { return QFile::exists(FRun + "/QmVardel/hook.sock"); })) << Log();
        if (FWaitForMainWindow) {
            ASSERT_TRUE(WaitUntil([&] { return !Windows("^Qm Vardel$").isEmpty(); })) << "no main window\n"
                                                                                      << Log();
        }
    }

    // What a suite adds to the folder and the environment before the program starts.
    virtual void BeforeStart() {}

    void TearDown() override {
        if (FProgram.state() != QProcess::NotRunning) {
            FProgram.terminate();
            if (!FProgram.waitForFinished(10000)) {
                FProgram.kill();
                FProgram.waitForFinished(5000);
            }
        }
    }

    static void CopyTree(const QString& from, const QString& to) {
        QDir().mkpath(to);
        const QDir source(from);
        for (const QFileInfo& info : source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (info.isDir())
                CopyTree(info.filePath(), to + "/" + info.fileName());
            else
                QFile::copy(info.filePath(), to + "/" + info.fileName());
        }
    }

    static void WriteText(const QString& path, const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    std::string Log() const {
        QFile file(FTemp.filePath(QStringLiteral("program.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    QString Xdotool(const QStringList& args) const {
        QProcess p;
        p.setProcessEnvironment(FEnv);
        p.start(XdotoolPath, args);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    QStringList Windows(const QString& title) const {
        const QString out = Xdotool({"search", "--onlyvisible", "--name", title});
        return out.isEmpty() ? QStringList() : out.split('\n');
    }

    // Waits for a visible window titled `title` other than `except` (a prompt that shares the
    // main window's title); returns it, or an empty string when none came.
    QString WaitForOtherWindow(const QString& title, const QString& except) const {
        QString found;
        WaitUntil([&] {
            for (const QString& w : Windows(title))
                if (w != except)
                    found = w;
            return !found.isEmpty();
        });
        return found;
    }

    // Waits for `count` open prompts; returns the newest one's window.
    QString WaitForPrompts(int count) const {
        QStringList prompts;
        WaitUntil([&] {
            prompts = Windows("^QmVardel$");
            return prompts.size() == count;
        });
        return prompts.size() == count && count > 0 ? prompts.last() : QString();
    }

    void Keys(const QString& window, const QStringList& keys) const {
        // The focus change precedes the keys in the X server's event stream.
        Xdotool({"windowfocus", "--sync", window});
        Xdotool(QStringList{"key", "--delay", "50"} + keys);
    }

    std::unique_ptr<QProcess> StartHook(const QStringList& args) const {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(FEnv);
        p->start(FApp + "/vardel-hook", args);
        p->waitForStarted(5000);
        return p;
    }

    // The Result printed by a finished vardel-hook, or "(running)"/"(failed)".
    static std::string ResultOf(QProcess& p, int timeoutMs = 15000) {
        if (!p.waitForFinished(timeoutMs))
            return "(running)";
        if (p.exitCode() != 0)
            return "(failed " + std::to_string(p.exitCode()) + ": " + p.readAllStandardError().toStdString() +
                   ")";
        return p.readAllStandardOutput().trimmed().toStdString();
    }

    std::string Ini() const {
        QFile file(FApp + "/QmVardel.ini");
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    static inline QString XvfbPath, XdotoolPath, Display;
    static inline pid_t XvfbPid = -1;
    QTemporaryDir FTemp;
    QString FApp, FRun;
    QProcessEnvironment FEnv;
    QProcess FProgram;
    // Set by BeforeStart: the program's arguments, and whether the start is over once the main
    // window shows (a start that stops at a dialog, or stays in the tray, is followed by the test).
    QStringList FArguments;
    bool FWaitForMainWindow = true;
};

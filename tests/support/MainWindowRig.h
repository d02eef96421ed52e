#pragma once
// The real main window as the program's entry point builds it, over a temporary program folder
// (shipped skins, help and alarm sound copied in), an in-memory settings file, fake timers, a fake
// autostart store, fake dial-up entries and hook library, and the real hook socket in the test's
// folder. The window, the settings and every port are public, for tests to look at and drive.
#include "core/libQmVardel.h"
#include "platform/linux/uLinuxHookEndpoint.h"
#include "ui/ufMain.h"

#include "fakes/FakeHookLibrary.h"
#include "fakes/FakePorts.h"
#include "fakes/FakeRemoteAccess.h"
#include "fakes/FakeShellPorts.h"

#include <QTemporaryDir>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Records the window's questions and gives scripted answers (Ok when none is left).
class TRecordingMessageBox : public IMessageBoxPort {
public:
    struct TCall {
        std::string Text;
        int Kind;
        unsigned Buttons;
    };
    std::vector<TCall> Calls;
    std::deque<int> Answers;
    TbsSkinData* Frame = nullptr;
    TbsSkinData* Controls = nullptr;
    int ShowMessageBox(const std::string& text, int kind, unsigned buttons) override {
        Calls.push_back({text, kind, buttons});
        if (Answers.empty())
            return mrOk;
        const int answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    void SetSkins(TbsSkinData* frame, TbsSkinData* controls) override {
        Frame = frame;
        Controls = controls;
    }
};

class TMainWindowRig {
public:
    TMainWindowRig() {
        namespace fs = std::filesystem;
        const fs::path resources = fs::path(QM_TEST_SOURCE_DIR) / "resources";
        fs::copy(resources / "Skins", fs::path(AppDir()) / "Skins", fs::copy_options::recursive);
        fs::copy_file(resources / "QmVardel.html", fs::path(AppDir()) / "QmVardel.html");
        fs::copy_file(resources / "alert.wav", fs::path(AppDir()) / "alert.wav");
        Image.Path = AppDir() + "QmVardel";
    }
    ~TMainWindowRig() { Stop(); }
    TMainWindowRig(const TMainWindowRig&) = delete;
    TMainWindowRig& operator=(const TMainWindowRig&) = delete;

    QTemporaryDir Dir;
    TFakeProgramImage Image;
    TFakeFileSystem Files;
    TFakeMutexFactory Mutexes;
    TFakeTimerFactory Timers;
    TFakeClock Clock;
    TFakeAutoStart AutoStart;
    TFakeSoundPlayer Sound;
    TRecordingMessageBox Box;
    TFakeRemoteAccess Remote;
    TFakeHookLibrary HookLibrary;
    TLinuxHookEndpoint HookEndpoint;
    // What Start builds the window with besides the above.
    ISoundPlayer* SoundPlayer = nullptr; // null: Sound
    std::optional<bool> TrayAvailable = true;
    TTapiMonitor* TapiMonitor = nullptr;
    const TScanServices* Scan = nullptr; // null: no disk scan
    bool HookLibraryInPlace = true;      // false: the hook library's file is missing
    std::unique_ptr<TVardelApp> App;
    std::unique_ptr<TfrmMain> Frm;
    int Terminations = 0;
    int FormDestroyRuns = 0;

    std::string AppDir() const { return Dir.path().toStdString() + "/"; }
    std::string IniPath() const { return AppDir() + "QmVardel.ini"; }
    std::string HookSocketPath() const { return AppDir() + "run/hook.sock"; }
    std::string IniText() const {
        auto it = Files.Files.find(IniPath());
        return it == Files.Files.end() ? std::string() : it->second.Content;
    }

    // Creates the context over ini (no file when empty) and the window, and runs FormCreate. The
    // hook files are in place (unless HookLibraryInPlace is off), so the hook starts.
    TfrmMain& Start(const std::string& ini = "[main]\nfirst_run_flg=0\n",
                    std::vector<std::string> args = {}) {
        if (!ini.empty())
            Files.Put(IniPath(), ini);
        App = std::make_unique<TVardelApp>(
            TQmAppPorts{.ProgramImage = Image, .FileSystem = Files, .MutexFactory = Mutexes});
        Files.Put(AppDir() + "vardeld", "");
        if (HookLibraryInPlace)
            Files.Put(AppDir() + "libVardelHk.so", "");
        Frm = std::make_unique<TfrmMain>(TfrmMainContext{
            .App = *App,
            .Timers = Timers,
            .AutoStart = AutoStart,
            .Sound = SoundPlayer ? *SoundPlayer : Sound,
            .DialGuard = {.FileSystem = Files,
                          .RemoteAccess = Remote,
                          .HookLibrary = HookLibrary,
                          .HookEndpoint = HookEndpoint,
                          .HookSocketPath = HookSocketPath()},
            .ExecutablePath = Image.Path,
            .Arguments = std::move(args),
            .MessageBox = &Box,
            .TrayAvailable = TrayAvailable,
            .OnTerminate = [this] { ++Terminations; },
            .OnFormDestroyed = [this] { ++FormDestroyRuns; },
            .TapiMonitor = TapiMonitor,
            .Scan = Scan,
            .Clock = &Clock,
        });
        Frm->FormCreate();
        return *Frm;
    }

    // The window goes before the context and the ports it was built over.
    void Stop() {
        Frm.reset();
        App.reset();
    }

    template <class T> T* Find(const char* name) const { return Frm->findChild<T*>(QLatin1String(name)); }
};

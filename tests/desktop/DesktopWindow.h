#pragma once
// The real main window for the desktop tests: a temporary program folder with the shipped skins,
// help and alarm sound, an in-memory settings file and fake timers, but the desktop's own answer to
// whether a notification area exists and a sound player chosen by the test.
#include "core/libQmVardel.h"
#include "ui/ufMain.h"

#include "fakes/FakeHookLibrary.h"
#include "fakes/FakePorts.h"
#include "fakes/FakeRemoteAccess.h"
#include "fakes/FakeShellPorts.h"

#include <QTemporaryDir>

#include <filesystem>
#include <memory>

class TDesktopWindow {
public:
    explicit TDesktopWindow(ISoundPlayer& sound) : FSound(sound) {
        namespace fs = std::filesystem;
        const fs::path resources = fs::path(QM_TEST_SOURCE_DIR) / "resources";
        fs::copy(resources / "Skins", fs::path(AppDir()) / "Skins", fs::copy_options::recursive);
        fs::copy_file(resources / "QmVardel.html", fs::path(AppDir()) / "QmVardel.html");
        fs::copy_file(resources / "alert.wav", fs::path(AppDir()) / "alert.wav");
        Image.Path = AppDir() + "QmVardel";
    }
    ~TDesktopWindow() {
        Frm.reset();
        App.reset();
    }

    std::string AppDir() const { return Dir.path().toStdString() + "/"; }

    // Creates the window and runs FormCreate; the window is not shown yet.
    TfrmMain& Start() {
        Files.Put(AppDir() + "QmVardel.ini", "[main]\nfirst_run_flg=0\n");
        App = std::make_unique<TVardelApp>(TQmAppPorts{Image, Files, Mutexes});
        TfrmMainContext context{
            *App, Timers, AutoStart, FSound, Image.Path, {}, &Box, std::nullopt, [this] { ++Terminations; },
            {}};
        Files.Put(AppDir() + "vardeld", "");
        Files.Put(AppDir() + "libVardelHk.so", "");
        context.DialGuard = {&Files, &Remote, &HookLibrary, AppDir() + "run/hook.sock"};
        Frm = std::make_unique<TfrmMain>(context);
        Frm->FormCreate();
        return *Frm;
    }

    QTemporaryDir Dir;
    TFakeProgramImage Image;
    TFakeFileSystem Files;
    TFakeMutexFactory Mutexes;
    TFakeTimerFactory Timers;
    TFakeAutoStart AutoStart;
    TFakeRemoteAccess Remote;
    TFakeHookLibrary HookLibrary;
    std::unique_ptr<TVardelApp> App;
    std::unique_ptr<TfrmMain> Frm;
    int Terminations = 0;

private:
    // Answers every question with Ok; the desktop tests ask none.
    class TOkBox : public IMessageBoxPort {
    public:
        int ShowMessageBox(const std::string&, int, unsigned) override { return mrOk; }
        void SetSkins(TbsSkinData*, TbsSkinData*) override {}
    };
    ISoundPlayer& FSound;
    TOkBox Box;
};

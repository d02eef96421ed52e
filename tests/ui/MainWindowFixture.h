#pragma once
// A main window over a temporary program folder (real skins and help document copied in), an
// in-memory settings file, fake timers, a fake autostart store, a recording sound player and a
// message box that records its questions and gives scripted answers.
#include "core/libQmVardel.h"
#include "ui/ufMain.h"

#include "UiTestUtil.h"
#include "fakes/FakePorts.h"
#include "fakes/FakeShellPorts.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

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

class TMainWindowTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TFakeProgramImage Image;
    TFakeFileSystem Files;
    TFakeMutexFactory Mutexes;
    TFakeTimerFactory Timers;
    TFakeAutoStart AutoStart;
    TFakeSoundPlayer Sound;
    TRecordingMessageBox Box;
    std::unique_ptr<TVardelApp> App;
    std::unique_ptr<TfrmMain> Frm;
    int Terminations = 0;
    int FormDestroyRuns = 0;
    bool TrayAvailable = true;

    std::string AppDir() const { return Dir.path().toStdString() + "/"; }
    std::string IniPath() const { return AppDir() + "QmVardel.ini"; }
    std::string IniText() const {
        auto it = Files.Files.find(IniPath());
        return it == Files.Files.end() ? std::string() : it->second.Content;
    }

    void SetUp() override {
        namespace fs = std::filesystem;
        const fs::path resources = fs::path(QM_TEST_SOURCE_DIR) / "resources";
        fs::copy(resources / "Skins", fs::path(AppDir()) / "Skins", fs::copy_options::recursive);
        fs::copy_file(resources / "QmVardel.html", fs::path(AppDir()) / "QmVardel.html");
        fs::copy_file(resources / "alert.wav", fs::path(AppDir()) / "alert.wav");
        Image.Path = AppDir() + "QmVardel";
    }

    // Creates the context over ini (no file when empty) and the window, and runs FormCreate.
    void Start(const std::string& ini = "[main]\nfirst_run_flg=0\n", std::vector<std::string> args = {}) {
        if (!ini.empty())
            Files.Put(IniPath(), ini);
        App = std::make_unique<TVardelApp>(TQmAppPorts{Image, Files, Mutexes});
        TfrmMainContext context{*App,
                                Timers,
                                AutoStart,
                                Sound,
                                Image.Path,
                                std::move(args),
                                &Box,
                                TrayAvailable,
                                [this] { ++Terminations; },
                                [this] {
                                    ++FormDestroyRuns;
                                }};
        Frm = std::make_unique<TfrmMain>(context);
        Frm->FormCreate();
    }

    template <class T> T* Find(const char* name) const { return Frm->findChild<T*>(QLatin1String(name)); }

    void TearDown() override {
        Frm.reset();
        App.reset();
    }
};

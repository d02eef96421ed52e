// The launched-program guard's decisions over real files, a real signature database and the Linux
// quarantine, with the window's side recorded by a fake view.
#include "detection/uProgramGuard.h"
#include "platform/linux/uLinuxAutoStartEntries.h"
#include "platform/linux/uLinuxDisplayName.h"
#include "platform/linux/uLinuxPlatform.h"
#include "platform/linux/uLinuxQuarantineFiles.h"

#include "MachineRoots.h"
#include "fakes/FakePorts.h"
#include "support/TempDir.h"
#include "util/uQmError.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct TRecordingView : IProgramGuardView {
    bool Monitoring = true;
    bool Child = false;
    int Answer = dpRemove;
    bool PromptFails = false;
    bool IsEnding = false;
    std::vector<std::string> Calls;
    bool ExeMonitoring() const override { return Monitoring; }
    bool ChildMode() const override { return Child; }
    void SetAlarmTray() override { Calls.push_back("alarm"); }
    void ResetTray() override { Calls.push_back("reset"); }
    int ShowDialerPrompt(const std::string& name, bool running, bool child) override {
        Calls.push_back("prompt " + name + (running ? " running" : " start") + (child ? " child" : ""));
        if (PromptFails)
            throw EQmError("no display");
        return Answer;
    }
    void ShowInformation(const std::string& text) override { Calls.push_back("info " + text); }
    void ShowErrorBox(const std::string& text) override { Calls.push_back("error box " + text); }
    void ShowError(const std::string& text) override { Calls.push_back("error " + text); }
    bool Ending() const override { return IsEnding; }
};

struct TNamedFiles : IDisplayName {
    std::string DisplayName(const std::string& path) const override {
        return path.ends_with("named.exe") ? "Szybki Internet" : "";
    }
};

struct TListedProcesses : IProcessControl {
    std::optional<std::vector<TProcessExecutable>> Listed;
    std::optional<std::vector<TProcessInfo>> ListProcesses() override { return std::nullopt; }
    void EndProcesses(const std::vector<TProcessInfo>&) override {}
    bool StartDetached(const std::vector<std::string>&) override { return false; }
    std::optional<std::vector<TProcessExecutable>> ListExecutables() override { return Listed; }
};

struct TGuardFixture {
    TTempDir Root;
    std::string Quarantine = Root / "app/back/";
    TLinuxFileSystem FileSystem;
    TLinuxQuarantineFiles Files;
    TLinuxAutoStartEntries Entries{MachineRoots(Root)};
    TFakeClock Clock;
    TListedProcesses Processes;
    TNamedFiles Names;
    TRecordingView View;
    std::string Path = "/usr/bin:" + (Root / "bin") + "/::relative";
    std::string Dialer = Root.Write("opt/Szybki Net/dialer.exe", "I dial 0-700 numbers");
    std::string Named = Root.Write("bin/named.exe", "I dial too");
    std::string Harmless = Root.Write("bin/harmless", "I do not");
    std::unique_ptr<TSygnatureManager> Sygnatures;
    std::unique_ptr<TDialerRemoval> Removal;
    std::unique_ptr<TProgramGuard> Guard;

    TGuardFixture() {
        fs::create_directories(Root / "app");
        Root.Write("Sygn.ini", "[1.0]\r\n" + qm::FileFingerprint(FileSystem, Dialer) + "\r\n" +
                                   qm::FileFingerprint(FileSystem, Named) + "\r\n");
        Sygnatures =
            std::make_unique<TSygnatureManager>(Root / "Sygn.ini", FileSystem, Root / "app/QmVardel");
        Removal = std::make_unique<TDialerRemoval>(TDialerRemovalContext{.Processes = Processes,
                                                                         .Quarantine = Files,
                                                                         .AutoStartEntries = Entries,
                                                                         .FileSystem = FileSystem,
                                                                         .Clock = Clock,
                                                                         .QuarantineDir = [this] {
                                                                             return Quarantine;
                                                                         }});
        Guard = std::make_unique<TProgramGuard>(
            TProgramGuardContext{.Sygnatures = *Sygnatures,
                                 .Removal = *Removal,
                                 .Processes = Processes,
                                 .DisplayNames = Names,
                                 .FileSystem = FileSystem,
                                 .QuarantineDir = [this] { return Quarantine; },
                                 .SearchPath = [this] { return Path; },
                                 .CurrentDirectory = [this] { return Root / "app"; },
                                 .ForgetStartAnswers =
                                     [this] {
                                         View.Calls.push_back("forget");
                                     }},
            View);
    }
};

} // namespace

TEST(ProgramGuard, ResolvesTheStartedFileByItsThreeRules) {
    TGuardFixture f;
    const std::string dir = f.Root / "opt/Szybki Net";
    f.Root.Write("app/own.exe", "in our folder");
    const struct {
        const char* Name;
        std::string Application, CurrentDirectory, CommandLine, Expected;
    } rows[] = {
        {"quoted path with arguments", "", "", "  \"" + f.Dialer + "\" /s --quiet ", f.Dialer},
        {"unquoted path with a blank falls to the name", f.Dialer, "", f.Dialer + " /s", f.Dialer},
        {"bare name in the started program's folder", "dialer.exe", dir, "dialer.exe /s", f.Dialer},
        {"bare name in our own folder", "own.exe", "/nowhere", "", f.Root / "app/own.exe"},
        {"bare name on PATH", "harmless", "/nowhere", "harmless", f.Harmless},
        {"name on the command line only", "", "", f.Harmless + " x", f.Harmless},
        {"another program's name on the command line hides nothing", f.Dialer, "", f.Harmless + " x",
         f.Dialer},
        {"a full path that does not exist is not looked for elsewhere", "/dialer.exe", dir, "", ""},
        {"nothing found", "missing.exe", dir, "missing.exe", ""},
        {"a folder is no program", "bin", f.Root.Path(), "", ""},
        {"nothing given", "", "", "", ""},
    };
    for (const auto& r : rows)
        EXPECT_EQ(f.Guard->ResolveStartedProgramPath(r.Application, r.CurrentDirectory, r.CommandLine),
                  r.Expected)
            << r.Name;
    // PATH: split at ":", empty pieces dropped, letter case kept, made absolute, no trailing "/".
    f.Path = ":/usr/Local/BIN/:/bin::relative/x/";
    EXPECT_EQ(f.Guard->GetSearchPathList(),
              (std::vector<std::string>{"/usr/Local/BIN", "/bin", f.Root / "app/relative/x"}));
}

TEST(ProgramGuard, ProgramStartsAreAnsweredAsTheUserDecides) {
    const std::string alarm = "alarm", reset = "reset";
    struct TRow {
        const char* Name;
        std::function<void(TGuardFixture&)> Setup;
        bool Dialer;
        std::int32_t Result;
        bool FileStays;
        std::function<std::vector<std::string>(TGuardFixture&)> Calls;
    } rows[] = {
        {"a harmless program runs and nothing is shown", [](TGuardFixture&) {}, false, 0, true,
         [](TGuardFixture&) {
             return std::vector<std::string>{};
         }},
        {"monitoring off lets a dialer run", [](TGuardFixture& f) { f.View.Monitoring = false; }, true, 0,
         true,
         [](TGuardFixture&) {
             return std::vector<std::string>{};
         }},
        // The service must not remember that 0 as "not a dialer".
        {"allowed", [](TGuardFixture& f) { f.View.Answer = dpAllow; }, true, 0, true,
         [&](TGuardFixture& f) {
             return std::vector<std::string>{alarm, "prompt " + f.Dialer + " start", reset, "forget"};
         }},
        {"removed", [](TGuardFixture&) {}, true, 1, false,
         [&](TGuardFixture& f) {
             return std::vector<std::string>{alarm, "prompt " + f.Dialer + " start", reset,
                                             "info Plik ten przeniesiono do folderu: " + f.Quarantine};
         }},
        {"closed any other way removes", [](TGuardFixture& f) { f.View.Answer = 0; }, true, 1, false,
         [&](TGuardFixture& f) {
             return std::vector<std::string>{alarm, "prompt " + f.Dialer + " start", reset,
                                             "info Plik ten przeniesiono do folderu: " + f.Quarantine};
         }},
        {"closed by the end of work refuses and removes nothing",
         [](TGuardFixture& f) {
             f.View.Answer = 0;
             f.View.IsEnding = true;
         },
         true, 1, true,
         [&](TGuardFixture& f) {
             return std::vector<std::string>{alarm, "prompt " + f.Dialer + " start", reset};
         }},
        {"child mode is passed on", [](TGuardFixture& f) { f.View.Child = true; }, true, 1, false,
         [&](TGuardFixture& f) {
             return std::vector<std::string>{alarm, "prompt " + f.Dialer + " start child", reset,
                                             "info Plik ten przeniesiono do folderu: " + f.Quarantine};
         }},
        {"a removal that fails still refuses the start",
         [](TGuardFixture& f) { f.Root.Write("app/back", "a file where the folder should be"); }, true, 1,
         true,
         [&](TGuardFixture& f) {
             return std::vector<std::string>{alarm, "prompt " + f.Dialer + " start", reset,
                                             "error box Próba usunięcia pliku nie powiodła się. Spróbuj "
                                             "usunąć plik samodzielnie. Plik: " +
                                                 f.Dialer};
         }},
        {"a prompt that cannot be shown refuses", [](TGuardFixture& f) { f.View.PromptFails = true; }, true,
         1, true,
         [&](TGuardFixture& f) {
             return std::vector<std::string>{alarm, "prompt " + f.Dialer + " start", reset,
                                             "error no display"};
         }},
    };
    for (const TRow& r : rows) {
        TGuardFixture f;
        r.Setup(f);
        const std::string file = r.Dialer ? f.Dialer : f.Harmless;
        EXPECT_EQ(f.Guard->HandleProgramStart({file, "\"" + file + "\" /s", f.Root.Path()}), r.Result)
            << r.Name;
        EXPECT_EQ(fs::exists(file), r.FileStays) << r.Name;
        EXPECT_EQ(f.View.Calls, r.Calls(f)) << r.Name;
    }
}

TEST(ProgramGuard, RunningDialersAreAskedAboutOneByOne) {
    TGuardFixture f;
    f.Processes.Listed =
        std::vector<TProcessExecutable>{{10, f.Harmless}, {11, f.Named}, {12, f.Dialer}, {13, f.Dialer}};
    f.View.Answer = dpRemove;
    f.Guard->CheckRunningDialers();
    // The second process of a removed file finds it gone and is not asked about.
    EXPECT_EQ(f.View.Calls,
              (std::vector<std::string>{"alarm", "prompt Szybki Internet running", "reset",
                                        "info Plik ten przeniesiono do folderu: " + f.Quarantine, "alarm",
                                        "prompt " + f.Dialer + " running", "reset",
                                        "info Plik ten przeniesiono do folderu: " + f.Quarantine}));
    EXPECT_FALSE(fs::exists(f.Dialer));
    EXPECT_FALSE(fs::exists(f.Named));

    // Left running: asked about again at the next check; monitoring off or no list: nothing.
    TGuardFixture g;
    g.Processes.Listed = std::vector<TProcessExecutable>{{12, g.Dialer}};
    g.View.Answer = dpAllow;
    g.Guard->CheckRunningDialers();
    g.Guard->CheckRunningDialers();
    EXPECT_EQ(g.View.Calls.size(), 6u);
    EXPECT_TRUE(fs::exists(g.Dialer));
    g.View.Calls.clear();
    g.View.Monitoring = false;
    g.Guard->CheckRunningDialers();
    g.View.Monitoring = true;
    g.Processes.Listed.reset();
    g.Guard->CheckRunningDialers();
    EXPECT_TRUE(g.View.Calls.empty());

    // The end of work closes the prompt: that dialer stays, and no other is asked about.
    TGuardFixture h;
    h.Processes.Listed = std::vector<TProcessExecutable>{{12, h.Dialer}, {14, h.Named}};
    h.View.Answer = 0;
    h.View.IsEnding = true;
    h.Guard->CheckRunningDialers();
    EXPECT_EQ(h.View.Calls, (std::vector<std::string>{"alarm", "prompt " + h.Dialer + " running", "reset"}));
    EXPECT_TRUE(fs::exists(h.Dialer));
    EXPECT_TRUE(fs::exists(h.Named));
}

TEST(LinuxDisplayName, NameOfTheDesktopEntryThatRunsTheFileElseItsFileName) {
    TTempDir root;
    const std::string bin = root / "bin";
    const std::string dialer = root.Write("bin/szybki-net", "x");
    const std::string other = root.Write("opt/other", "x");
    root.Write("share/applications/net.desktop",
               "[Desktop Entry]\nName=Szybki\\sInternet\nExec=szybki-net %U\n[Desktop Action x]\nName=Nie\n");
    root.Write("home/.local/share/applications/a.desktop",
               "[Desktop Entry]\nName=Inny\nExec=\"/opt/other\"\n");
    TLinuxDisplayName names(
        {.DataHome = "", .DataDirs = root / "share", .Home = root / "home", .SearchPath = bin});
    EXPECT_EQ(names.DisplayName(dialer), "Szybki Internet");
    EXPECT_EQ(names.DisplayName(other), "other");
}

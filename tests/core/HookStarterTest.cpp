#include "core/uHookStarter.h"

#include "fakes/FakeHookLibrary.h"
#include "fakes/FakePorts.h"

#include <gmock/gmock.h>

namespace {

class TRecordingView : public IHookStartView {
public:
    std::vector<std::string> Events;
    void ShowHookError(const std::string& text) override { Events.push_back("error:" + text); }
    void SetWindowTitle(const std::string& title) override { Events.push_back("title:" + title); }
};

} // namespace

TEST(HookStarter, ChecksTheCompanionFirstAndStopsAtTheFirstMissingFile) {
    struct TCase {
        const char* Name;
        std::vector<std::string> Present;
        bool Passes;
    } cases[] = {
        {"both present", {"/opt/qm/vardeld", "/opt/qm/libVardelHk.so"}, true},
        {"library missing", {"/opt/qm/vardeld"}, false},
        {"companion missing", {"/opt/qm/libVardelHk.so"}, false},
        {"files elsewhere only", {"/usr/lib/libVardelHk.so", "/usr/sbin/vardeld"}, false},
    };
    for (const TCase& c : cases) {
        TFakeFileSystem fs;
        for (const auto& f : c.Present)
            fs.Put(f, "x");
        TFakeHookLibrary lib;
        TRecordingView view;
        THookStarter starter("/opt/qm/", fs, lib, view);
        EXPECT_EQ(starter.RequiredFiles(),
                  (std::vector<std::string>{"/opt/qm/vardeld", "/opt/qm/libVardelHk.so"}));
        EXPECT_EQ(starter.CheckHookFiles(), c.Passes) << c.Name;
        if (c.Passes)
            EXPECT_TRUE(view.Events.empty()) << c.Name;
        else
            EXPECT_EQ(view.Events, (std::vector<std::string>{std::string("error:") + kMissingHookFilesText}))
                << c.Name;
        EXPECT_TRUE(lib.Loaded.empty()) << c.Name;
    }
    EXPECT_EQ(std::string(kMissingHookFilesText),
              "Uwaga! Brakuje ważnych plików umożliwiających poprawne \r\ndziałanie programu Qm Vardel. "
              "Konieczna jest reinstalacja \r\nprogramu.");
}

TEST(HookStarter, StartTestsOnlyTheLowByteOfTheResult) {
    const std::string failed = std::string("error:") + kHookStartFailedText;
    struct TCase {
        const char* Name;
        bool Loadable, HasExport;
        std::uint32_t Result;
        bool Started;
    } cases[] = {
        {"true", true, true, 1, true},
        {"garbage above a true low byte", true, true, 0xFFFFFF01u, true},
        {"garbage above a false low byte", true, true, 0x12345600u, false},
        {"false", true, true, 0, false},
        {"library not loadable", false, true, 1, false},
        {"export missing", true, false, 1, false},
    };
    for (const TCase& c : cases) {
        TFakeFileSystem fs;
        TFakeHookLibrary lib;
        lib.Loadable = c.Loadable;
        lib.HasExport = c.HasExport;
        lib.Result = c.Result;
        TRecordingView view;
        THookStarter starter("/opt/qm", fs, lib, view);
        starter.StartHooks();
        EXPECT_EQ(starter.Started(), c.Started) << c.Name;
        std::vector<std::string> expected{"title:Qm Vardel"};
        if (!c.Started)
            expected.push_back(failed);
        EXPECT_EQ(view.Events, expected) << c.Name;
        EXPECT_EQ(lib.Loaded, std::vector<std::string>{"/opt/qm/libVardelHk.so"}) << c.Name;
        if (c.Loadable && c.HasExport) {
            EXPECT_EQ(lib.Calls, std::vector<std::string>{"/opt/qm/vardeld"}) << c.Name;
        }
    }
    EXPECT_EQ(std::string(kHookStartFailedText),
              "Niezidentyfikowany błąd krytyczny. Konieczna jest reinstalacja programu.");
}

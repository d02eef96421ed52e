#include "core/uCreationSequence.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records every step by name; the step named in FailAt raises.
class TRecordingSteps : public ICreationSteps {
public:
    std::vector<std::string> Calls;
    std::string FailAt;
    bool HookFilesPresent = true;
    bool FirstRun = false;

    void InitFields() override { Step("InitFields"); }
    void CreateMessageBox() override { Step("CreateMessageBox"); }
    void CreateAllowedList() override { Step("CreateAllowedList"); }
    void CreateSygnatureManager() override { Step("CreateSygnatureManager"); }
    void ClearFlags() override { Step("ClearFlags"); }
    void SetScanAnimation() override { Step("SetScanAnimation"); }
    void SetStatisticsHeaders() override { Step("SetStatisticsHeaders"); }
    void LoadSettings() override { Step("LoadSettings"); }
    void StartScanTimer() override { Step("StartScanTimer"); }
    void SetNotConnected() override { Step("SetNotConnected"); }
    void ApplyCommandLine() override { Step("ApplyCommandLine"); }
    void StartLineMonitor() override { Step("StartLineMonitor"); }
    void FillEntries() override { Step("FillEntries"); }
    void ShowStatusPage() override { Step("ShowStatusPage"); }
    void ShowDatabaseInfo() override { Step("ShowDatabaseInfo"); }
    bool CheckHookFiles() override {
        Step("CheckHookFiles");
        return HookFilesPresent;
    }
    void StartHooks() override { Step("StartHooks"); }
    void CheckRunningDialers() override { Step("CheckRunningDialers"); }
    bool IsFirstRun() const override { return FirstRun; }
    void ShowDefaultHelp() override { Step("ShowDefaultHelp"); }
    void PickAllowedNumbers() override { Step("PickAllowedNumbers"); }
    void CheckEntries() override { Step("CheckEntries"); }
    void ShowError(const std::string& text) override { Calls.push_back("error:" + text); }

private:
    void Step(const std::string& name) {
        Calls.push_back(name);
        if (name == FailAt)
            throw std::runtime_error("broken " + name);
    }
};

const std::vector<std::string> kFirstEighteen = {
    "InitFields",     "CreateMessageBox",   "CreateAllowedList",    "CreateSygnatureManager",
    "ClearFlags",     "SetScanAnimation",   "SetStatisticsHeaders", "LoadSettings",
    "StartScanTimer", "SetNotConnected",    "ApplyCommandLine",     "StartLineMonitor",
    "FillEntries",    "ShowStatusPage",     "ShowDatabaseInfo",     "CheckHookFiles",
    "StartHooks",     "CheckRunningDialers"};

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(CreationSequence, LaterRunChecksEntriesLastAndFirstRunOpensHelpThenPicker) {
    TRecordingSteps later;
    EXPECT_EQ(RunCreationSequence(later), "");
    EXPECT_EQ(later.Calls, Plus(kFirstEighteen, {"CheckEntries"}));

    TRecordingSteps first;
    first.FirstRun = true;
    EXPECT_EQ(RunCreationSequence(first), "");
    EXPECT_EQ(first.Calls, Plus(kFirstEighteen, {"ShowDefaultHelp", "PickAllowedNumbers"}));
}

TEST(CreationSequence, MissingHookFileSkipsTheLastThreeStepsWithoutAFurtherMessage) {
    TRecordingSteps steps;
    steps.HookFilesPresent = false;
    EXPECT_EQ(RunCreationSequence(steps), "CheckHookFiles");
    EXPECT_EQ(steps.Calls, std::vector<std::string>(kFirstEighteen.begin(), kFirstEighteen.begin() + 16));
}

TEST(CreationSequence, AnErrorEndsTheSequenceAtItsStepAndIsShown) {
    for (std::size_t i = 0; i < kFirstEighteen.size(); ++i) {
        TRecordingSteps steps;
        steps.FailAt = kFirstEighteen[i];
        EXPECT_EQ(RunCreationSequence(steps), kFirstEighteen[i]);
        std::vector<std::string> expected(kFirstEighteen.begin(), kFirstEighteen.begin() + i + 1);
        expected.push_back("error:broken " + kFirstEighteen[i]);
        EXPECT_EQ(steps.Calls, expected);
    }
    // In the last step: the help opened before the picker failed.
    TRecordingSteps picker;
    picker.FirstRun = true;
    picker.FailAt = "PickAllowedNumbers";
    EXPECT_EQ(RunCreationSequence(picker), "EntriesOrPicker");
    EXPECT_EQ(picker.Calls, Plus(kFirstEighteen, {"ShowDefaultHelp", "PickAllowedNumbers",
                                                  "error:broken PickAllowedNumbers"}));
}

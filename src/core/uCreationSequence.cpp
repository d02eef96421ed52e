#include "core/uCreationSequence.h"

#include <exception>

namespace {

template <void (ICreationSteps::*Step)()> bool Call(ICreationSteps& steps) {
    (steps.*Step)();
    return true;
}

bool HookFiles(ICreationSteps& steps) {
    return steps.CheckHookFiles();
}

// The first run opens the help and lets the user pick the allowed numbers from the phone book;
// every later run checks the phone book against them instead.
bool EntriesOrPicker(ICreationSteps& steps) {
    if (steps.IsFirstRun()) {
        steps.ShowDefaultHelp();
        steps.PickAllowedNumbers();
    } else {
        steps.CheckEntries();
    }
    return true;
}

} // namespace

const std::array<TCreationStep, 19> kCreationSequence = {{
    {"InitFields", &Call<&ICreationSteps::InitFields>},
    {"CreateMessageBox", &Call<&ICreationSteps::CreateMessageBox>},
    {"CreateAllowedList", &Call<&ICreationSteps::CreateAllowedList>},
    {"CreateSygnatureManager", &Call<&ICreationSteps::CreateSygnatureManager>},
    {"ClearFlags", &Call<&ICreationSteps::ClearFlags>},
    {"SetScanAnimation", &Call<&ICreationSteps::SetScanAnimation>},
    {"SetStatisticsHeaders", &Call<&ICreationSteps::SetStatisticsHeaders>},
    {"LoadSettings", &Call<&ICreationSteps::LoadSettings>},
    {"StartScanTimer", &Call<&ICreationSteps::StartScanTimer>},
    {"SetNotConnected", &Call<&ICreationSteps::SetNotConnected>},
    {"ApplyCommandLine", &Call<&ICreationSteps::ApplyCommandLine>},
    {"StartLineMonitor", &Call<&ICreationSteps::StartLineMonitor>},
    {"FillEntries", &Call<&ICreationSteps::FillEntries>},
    {"ShowStatusPage", &Call<&ICreationSteps::ShowStatusPage>},
    {"ShowDatabaseInfo", &Call<&ICreationSteps::ShowDatabaseInfo>},
    {"CheckHookFiles", &HookFiles},
    {"StartHooks", &Call<&ICreationSteps::StartHooks>},
    {"CheckRunningDialers", &Call<&ICreationSteps::CheckRunningDialers>},
    {"EntriesOrPicker", &EntriesOrPicker},
}};

std::string RunCreationSequence(ICreationSteps& steps) {
    for (const TCreationStep& step : kCreationSequence) {
        try {
            if (!step.Run(steps))
                return step.Name;
        } catch (const std::exception& e) {
            steps.ShowError(e.what());
            return step.Name;
        }
    }
    return {};
}

#pragma once
// The main window as the alarm dialogs see it, recording what they ask of it; both skins unloaded.
#include "components/bsSkinData.h"
#include "ui/uAlarmHost.h"

#include <string>
#include <vector>

class TRecordingAlarmHost : public IAlarmHost {
public:
    std::vector<int> TrayStates;
    std::vector<std::string> Topics;
    TbsSkinData Controls;
    TbsSkinData Frame;
    void SetTrayState(int state) override { TrayStates.push_back(state); }
    void ShowHelpTopic(const std::string& topic) override { Topics.push_back(topic); }
    TbsSkinData* ControlSkin() const override { return const_cast<TbsSkinData*>(&Controls); }
    TbsSkinData* DialogSkin() const override { return const_cast<TbsSkinData*>(&Frame); }
};

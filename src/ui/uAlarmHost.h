#pragma once
// What the alarm dialogs need of the main window: the tray (alarm while open, reset after), the
// help and the two skins.
#include <string>

class TbsSkinData;

class IAlarmHost {
public:
    virtual ~IAlarmHost() = default;
    virtual void SetTrayState(int state) = 0;
    virtual void ShowHelpTopic(const std::string& topic) = 0;
    // The control skin (skin.ini) and the dialog-frame skin (dialog.in1); either may be unloaded.
    virtual TbsSkinData* ControlSkin() const = 0;
    virtual TbsSkinData* DialogSkin() const = 0;
};

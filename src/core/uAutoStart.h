#pragma once
// The autostart option: the entry "QmVardel" of the system autostart store holds the quoted path of
// this program followed by " tray". The option is set only when the entry starts this very copy.
#include "platform/IAutoStart.h"

#include <functional>
#include <string>

inline constexpr const char* kAutoStartName = "QmVardel";
inline constexpr const char* kAutoStartArgument = "tray";
inline constexpr const char* kAutoStartNotAllowed = "Opcje tą może zmienić tylko administrator systemu.";

class TAutoStartSetting {
public:
    // onNotAllowed shows its text when the store refuses a change; unset = skipped.
    TAutoStartSetting(IAutoStart& store, std::string programPath);

    std::function<void(const std::string& message)> OnNotAllowed;

    std::string GetAutoStartCommand() const;
    void SetAutoStart(bool on);
    bool IsAutoStartSet() const;

private:
    IAutoStart& FStore;
    std::string FProgramPath;
};

#pragma once
// The autostart store on Linux: desktop entries in the "autostart" folder of the first directory of
// $XDG_CONFIG_DIRS (default /etc/xdg), which every XDG desktop starts at log-in for every user.
// An entry is <name>.desktop; its command is the Exec key. A folder this user cannot write means
// the user is not an administrator. An entry with Hidden=true counts as absent (the desktops'
// own way of switching an entry off).
#include "platform/IAutoStart.h"

#include <string>

class TLinuxAutoStart : public IAutoStart {
public:
    // configDirs: the value of XDG_CONFIG_DIRS (folders separated by ":"), empty for the default.
    explicit TLinuxAutoStart(std::string configDirs);

    std::string AutoStartDir() const { return FDir; }
    std::string EntryPath(const std::string& name) const;

    std::string FormatCommand(const std::string& program, const std::string& argument) const override;
    std::optional<std::string> ReadCommand(const std::string& name) const override;
    bool CanChange() override;
    bool WriteCommand(const std::string& name, const std::string& command) override;
    bool DeleteCommand(const std::string& name) override;

    // Desktop-entry value escapes (\s \n \t \r \\), both ways.
    static std::string EscapeValue(const std::string& value);
    static std::string UnescapeValue(const std::string& value);

private:
    std::string FDir;
};

#pragma once
// Autostart entries on Linux, for the dialer removal: the desktop entries of the autostart folders
// ($XDG_CONFIG_DIRS, default /etc/xdg, and each user's ~/.config from the password database, the
// running user's $XDG_CONFIG_HOME instead) and the systemd units (/etc/systemd/system and each
// user's ~/.config/systemd/user) with the *.wants / *.requires links that pull them in.
#include "platform/IAutoStartEntries.h"

#include <string>
#include <vector>

struct TLinuxAutoStartRoots {
    std::string PasswdFile = "/etc/passwd";
    std::string ConfigDirs; // the value of $XDG_CONFIG_DIRS; empty for /etc/xdg
    std::string ConfigHome; // $XDG_CONFIG_HOME of the running user; empty for ~/.config
    std::string SystemUnitDir = "/etc/systemd/system";
    unsigned CurrentUid = 0;
};

class TLinuxAutoStartEntries : public IAutoStartEntries {
public:
    explicit TLinuxAutoStartEntries(TLinuxAutoStartRoots roots);
    // The roots of the running process (its environment, its uid, the real password database).
    static TLinuxAutoStartRoots SystemRoots();

    std::vector<TAutoStartEntry> List() const override;
    bool CanRemove(const TAutoStartEntry& entry) const override;
    TMoveResult Backup(const TAutoStartEntry& entry, const std::string& backupDir,
                       const std::string& name) override;
    bool Remove(const TAutoStartEntry& entry) override;
    TMoveResult Restore(const TAutoStartEntry& entry, const std::string& backupPath) override;

    // The folders looked through, desktop-entry folders first.
    std::vector<std::string> DesktopEntryDirs() const;
    std::vector<std::string> UnitDirs() const;

    // The Exec and TryExec values of a desktop entry's [Desktop Entry] group, escapes undone.
    static std::vector<std::string> DesktopCommands(const std::string& text);
    // The ExecStart and ExecStartPre values of a unit file (continued lines joined).
    static std::vector<std::string> UnitCommands(const std::string& text);

private:
    std::vector<std::string> UserConfigDirs() const;
    TLinuxAutoStartRoots FRoots;
};

#pragma once
// The autostart roots of a machine laid out in a test's folder: its etc/passwd (the users' homes),
// etc/xdg and etc/systemd/system; no $XDG_CONFIG_HOME, and an ordinary user running the program.
#include "platform/linux/uLinuxAutoStartEntries.h"

#include "support/TempDir.h"

inline TLinuxAutoStartRoots MachineRoots(const TTempDir& root) {
    return {.PasswdFile = root / "etc/passwd",
            .ConfigDirs = root / "etc/xdg",
            .ConfigHome = "",
            .SystemUnitDir = root / "etc/systemd/system",
            .CurrentUid = 4242};
}

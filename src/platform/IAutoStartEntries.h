#pragma once
// Port: the autostart entries of every user that may start a program (for removing a dialer's).
// On Linux: the system autostart folder and each user's ~/.config/autostart/*.desktop; an entry's
// "value data" is its Exec line, its backup a copy of the entry file.
#include <string>
#include <vector>

struct TAutoStartEntry {
    std::string Location; // the folder or key that holds it (shown in the removal log)
    std::string Name;     // the entry's name within it
    std::string Data;     // the command it runs
};

class IAutoStartEntries {
public:
    virtual ~IAutoStartEntries() = default;
    virtual std::vector<TAutoStartEntry> List() const = 0;
    // Copies the entry into backupDir (never overwriting an earlier backup); false on failure.
    virtual bool Backup(const TAutoStartEntry& entry, const std::string& backupDir,
                        std::string& backupPath) = 0;
    // Deletes the entry; false when it cannot be deleted.
    virtual bool Remove(const TAutoStartEntry& entry) = 0;
};

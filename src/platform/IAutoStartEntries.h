#pragma once
// Port: the autostart entries of every user that may start a program (for removing a dialer's and
// putting them back). On Linux: the system autostart folders and each user's
// ~/.config/autostart/*.desktop, whose "value data" is the Exec and TryExec lines, and the systemd
// units of the system and of each user, whose value data is their ExecStart and ExecStartPre lines;
// the backup is a copy of the entry file.
#include "platform/IQuarantineFiles.h"

#include <string>
#include <vector>

enum TAutoStartKind {
    akDesktopEntry,
    akSystemdUnit,
};

// A link that pulls a unit in (a *.wants or *.requires entry).
struct TAutoStartLink {
    std::string Path;
    std::string Target; // the link's text as it was
    bool operator==(const TAutoStartLink&) const = default;
};

struct TAutoStartEntry {
    TAutoStartKind Kind = akDesktopEntry;
    std::string Location; // the folder that holds it (shown in the removal log)
    std::string Name;     // the entry's file name within it
    // The commands it runs, one per line that names one, as the entry holds them (desktop-entry
    // value escapes undone).
    std::vector<std::string> Commands;
    std::vector<TAutoStartLink> Links;
    TFileFacts Facts; // of the entry file
    std::string Path() const { return Location + "/" + Name; }
};

class IAutoStartEntries {
public:
    virtual ~IAutoStartEntries() = default;
    // Every entry that can be read, in a stable order.
    virtual std::vector<TAutoStartEntry> List() const = 0;
    // Whether this user may delete the entry (and its links).
    virtual bool CanRemove(const TAutoStartEntry& entry) const = 0;
    // Copies the entry file into backupDir as name, never replacing anything there (msNameTaken).
    virtual TMoveResult Backup(const TAutoStartEntry& entry, const std::string& backupDir,
                               const std::string& name) = 0;
    // Deletes the entry and its links; false when it cannot be deleted.
    virtual bool Remove(const TAutoStartEntry& entry) = 0;
    // Puts the entry back from its backup with its mode, owner and time, and its links;
    // msNameTaken (nothing done) when something has the entry's path.
    virtual TMoveResult Restore(const TAutoStartEntry& entry, const std::string& backupPath) = 0;
};

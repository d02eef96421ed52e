#pragma once
// The commands of qmvardel-quarantine: list what the guard put in its quarantine folder, and put a
// quarantined file back (its place or --to, its mode, owner and time) with the autostart entries
// removed with it. Nothing that exists is overwritten: a restore whose file or entry would replace
// something is refused before anything changes. Qt-free; the folder is reached through the ports.
//
// Exit codes: 0 success, 1 the restore was refused or failed (or the folder holds an unreadable
// record), 2 a usage error.
#include "platform/IAutoStartEntries.h"
#include "platform/IClock.h"
#include "platform/IFileSystem.h"
#include "platform/IQuarantineFiles.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

enum TQuarantineToolExit { qtExit_Ok = 0, qtExit_Failed = 1, qtExit_Usage = 2 };

struct TQuarantineToolEnv {
    IQuarantineFiles& Quarantine;
    IAutoStartEntries& AutoStartEntries;
    IFileSystem& FileSystem;
    const IClock& Clock;
    std::string QuarantineDir; // the guard's, ending with the delimiter
    std::string CurrentDirectory;
    std::function<std::string(double)> ShortDate; // the log's dates, as the guard writes them
    std::ostream& Out;
    std::ostream& Err;
};

inline constexpr const char* kRestoredFileLog = "Plik przywrócono z kwarantanny: ";
inline constexpr const char* kRestoredEntryLog = "Przywrócono wpis autostartu: ";

// args are the command-line arguments after the program name.
int RunQuarantineTool(const std::vector<std::string>& args, const TQuarantineToolEnv& env);

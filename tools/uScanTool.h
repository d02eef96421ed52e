#pragma once
// qmvardel-scan: the disk scan from the command line, on the same walk and signature database as
// the window's scan. Qt-free; main() wires the Linux ports to it.
//
// Exit codes: 0 no dialer found, 1 a dialer found, 2 a usage, database or path error. An error
// outranks a found dialer, so a script never takes a half-done scan for a clean one.
#include "platform/IFileSearch.h"
#include "platform/IFileSystem.h"
#include "platform/IFixedDrives.h"
#include "platform/IMonotonicClock.h"

#include <ostream>
#include <string>
#include <vector>

enum TScanToolExit { scanExit_Clean = 0, scanExit_Dialer = 1, scanExit_Error = 2 };

struct TScanToolEnv {
    const IFileSystem& FileSystem;
    const IFixedDrives& FixedDrives;
    const IFileSearch& FileSearch;
    const IMonotonicClock& Clock;
    // The program's own executable (the database date before a load) and the database and
    // quarantine folder used without options: those beside the program.
    std::string ExecutablePath;
    std::string DefaultDatabase;
    std::string QuarantineDir;
    std::ostream& Out;
    std::ostream& Err;
    // Progress lines go to Err only when it is a terminal.
    bool ErrIsTerminal = false;
};

// args are the command-line arguments after the program name.
int RunScanTool(const std::vector<std::string>& args, const TScanToolEnv& env);

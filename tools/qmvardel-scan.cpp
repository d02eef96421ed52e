// qmvardel-scan: looks for known dialers on the fixed disks or in the folders given.
#include "platform/linux/uLinuxFileSearch.h"
#include "platform/linux/uLinuxFixedDrives.h"
#include "platform/uPlatformFactory.h"
#include "uScanTool.h"
#include "util/uQmError.h"

#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    try {
        const auto fileSystem = CreateFileSystem();
        std::string exe;
        try {
            exe = CreateProgramImage()->ExecutablePath();
        } catch (const EQmError&) {
        }
        // The database and the quarantine folder beside the program, as the guard finds them.
        const std::string dir = exe.substr(0, exe.rfind('/') + 1);
        const TLinuxFixedDrives drives;
        const TLinuxFileSearch search;
        const TLinuxMonotonicClock clock;
        const TScanToolEnv env{
            *fileSystem,      drives,        search,    clock,     exe,
            dir + "Sygn.ini", dir + "back/", std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1};
        return RunScanTool(args, env);
    } catch (const std::exception& e) {
        std::cerr << "qmvardel-scan: " << e.what() << "\n";
        return scanExit_Error;
    }
}

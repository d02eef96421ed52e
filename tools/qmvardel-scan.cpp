// qmvardel-scan: looks for known dialers on the fixed disks or in the folders given.
#include "platform/uPathDelim.h"
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
        // The database and the quarantine folder the guard uses: beside the program, or, for an
        // installed copy, an updated database and the quarantine in the user's data folder.
        const std::string appDir = exe.substr(0, exe.rfind('/') + 1);
        std::string dataDir = appDir;
        const TUserFolders user = UserFolders();
        if (!appDir.empty() && !fileSystem->IsWritableDirectory(appDir) && !user.DataHome.empty())
            dataDir = qm::IncludeTrailingPathDelimiter(user.DataHome) + "QmVardel/";
        const std::string database = dataDir != appDir && fileSystem->FileExists(dataDir + "Sygn.ini")
                                         ? dataDir + "Sygn.ini"
                                         : appDir + "Sygn.ini";
        const auto drives = CreateFixedDrives();
        const auto search = CreateFileSearch();
        const auto clock = CreateMonotonicClock();
        const TScanToolEnv env{.FileSystem = *fileSystem,
                               .FixedDrives = *drives,
                               .FileSearch = *search,
                               .Clock = *clock,
                               .ExecutablePath = exe,
                               .DefaultDatabase = database,
                               .QuarantineDir = dataDir + "back/",
                               .Out = std::cout,
                               .Err = std::cerr,
                               .ErrIsTerminal = ::isatty(STDERR_FILENO) == 1};
        return RunScanTool(args, env);
    } catch (const std::exception& e) {
        std::cerr << "qmvardel-scan: " << e.what() << "\n";
        return scanExit_Error;
    }
}

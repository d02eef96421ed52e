// qmvardel-quarantine: lists the guard's quarantine and puts quarantined files back.
#include "platform/linux/uLinuxAutoStartEntries.h"
#include "platform/linux/uLinuxPlatform.h"
#include "platform/linux/uLinuxQuarantineFiles.h"
#include "platform/linux/uLinuxShortDate.h"
#include "platform/uPathDelim.h"
#include "platform/uPlatformFactory.h"
#include "uQuarantineTool.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The guard's quarantine folder: "back/" in its data folder, which is the program's folder (that
// this tool shares) when it can be written, else the user's data folder, as the guard chooses it.
std::string DefaultQuarantineDir(const IFileSystem& fileSystem) {
    std::string appDir;
    try {
        appDir = qm::IncludeTrailingPathDelimiter(qm::ExtractFileDir(TLinuxProgramImage().ExecutablePath()));
    } catch (const std::exception&) {
        appDir = "./";
    }
    const TUserFolders user = UserFolders();
    std::string dataDir = appDir;
    if (!fileSystem.IsWritableDirectory(appDir) && !user.DataHome.empty())
        dataDir = qm::IncludeTrailingPathDelimiter(user.DataHome) + "QmVardel" + qm::PathDelim;
    return dataDir + "back" + qm::PathDelim;
}

} // namespace

int main(int argc, char** argv) {
    UseEnvironmentTimeLocale();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    TLinuxFileSystem fileSystem;
    std::string dir = DefaultQuarantineDir(fileSystem);
    // --dir FOLDER before the command names another quarantine folder.
    if (args.size() >= 2 && args[0] == "--dir") {
        dir = qm::IncludeTrailingPathDelimiter(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    TLinuxQuarantineFiles quarantine;
    TLinuxAutoStartEntries entries(TLinuxAutoStartEntries::SystemRoots());
    TLinuxClock clock;
    std::error_code ec;
    const std::string cwd = std::filesystem::current_path(ec).string();
    const TQuarantineToolEnv env{quarantine, entries,         fileSystem, clock,    dir,
                                 cwd,        LocaleShortDate, std::cout,  std::cerr};
    try {
        return RunQuarantineTool(args, env);
    } catch (const std::exception& e) {
        std::cerr << "qmvardel-quarantine: " << e.what() << "\n";
        return qtExit_Failed;
    }
}

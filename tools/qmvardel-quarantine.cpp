// qmvardel-quarantine: lists the guard's quarantine and puts quarantined files back.
#include "platform/linux/uLinuxAutoStartEntries.h"
#include "platform/linux/uLinuxPlatform.h"
#include "platform/linux/uLinuxQuarantineFiles.h"
#include "platform/linux/uLinuxShortDate.h"
#include "platform/uPathDelim.h"
#include "uQuarantineTool.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The guard's quarantine folder: "back/" in the program's folder, which this tool shares.
std::string DefaultQuarantineDir() {
    try {
        const std::string exe = TLinuxProgramImage().ExecutablePath();
        return qm::IncludeTrailingPathDelimiter(qm::ExtractFileDir(exe)) + "back" + qm::PathDelim;
    } catch (const std::exception&) {
        return std::string("back") + qm::PathDelim;
    }
}

} // namespace

int main(int argc, char** argv) {
    UseEnvironmentTimeLocale();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::string dir = DefaultQuarantineDir();
    // --dir FOLDER before the command names another quarantine folder.
    if (args.size() >= 2 && args[0] == "--dir") {
        dir = qm::IncludeTrailingPathDelimiter(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    TLinuxQuarantineFiles quarantine;
    TLinuxAutoStartEntries entries(TLinuxAutoStartEntries::SystemRoots());
    TLinuxFileSystem fileSystem;
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

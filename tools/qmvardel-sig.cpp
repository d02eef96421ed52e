// qmvardel-sig: makes signature lines and checks files against a signature database.
#include "platform/uPlatformFactory.h"
#include "uSigTool.h"
#include "util/uQmError.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

// Sygn.ini beside the program, as the guard itself finds its database.
std::string DefaultDatabase() {
    try {
        const std::string exe = CreateProgramImage()->ExecutablePath();
        const std::size_t slash = exe.rfind('/');
        return (slash == std::string::npos ? std::string() : exe.substr(0, slash + 1)) + "Sygn.ini";
    } catch (const EQmError&) {
        return "Sygn.ini";
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto fileSystem = CreateFileSystem();
    const TSigToolEnv env{*fileSystem, DefaultDatabase(), std::cout, std::cerr};
    try {
        return RunSigTool(args, env);
    } catch (const std::exception& e) {
        std::cerr << "qmvardel-sig: " << e.what() << "\n";
        return sigExit_Error;
    }
}

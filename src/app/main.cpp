// The guard's entry point. Until the main window exists it prints the application context.
#include "core/libQmVardel.h"
#include "platform/linux/uLinuxPlatform.h"
#include "util/uQmError.h"

#include <cstdio>

int main() {
    TLinuxProgramImage image;
    TLinuxFileSystem fileSystem;
    TLinuxNamedMutexFactory mutexes;
    try {
        TVardelApp app({image, fileSystem, mutexes});
        std::vector<std::string> lines;
        app.DumpInfo(lines);
        for (const std::string& line : lines)
            std::printf("%s\n", line.c_str());
    } catch (const EQmError& e) {
        std::fprintf(stderr, "QmVardel: %s\n", e.what());
        return 1;
    }
    return 0;
}

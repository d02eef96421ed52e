#include "core/uHookStarter.h"

#include "platform/uPathDelim.h"

THookStarter::THookStarter(std::string appDir, const IFileSystem& fileSystem, IHookLibrary& library,
                           IHookStartView& view)
    : FAppDir(qm::IncludeTrailingPathDelimiter(appDir)), FFileSystem(fileSystem), FLibrary(library),
      FView(view) {}

std::vector<std::string> THookStarter::RequiredFiles() const {
    return {FAppDir + kHookCompanionFile, FAppDir + kHookLibraryFile};
}

bool THookStarter::CheckHookFiles() {
    for (const std::string& file : RequiredFiles())
        if (!FFileSystem.FileExists(file)) {
            FView.ShowHookError(kMissingHookFilesText);
            return false;
        }
    return true;
}

void THookStarter::StartHooks() {
    FView.SetWindowTitle(kHookWindowTitle);
    // The library is loaded from the program's folder by its full path, never through the
    // library search path, so nothing earlier on that path can stand in for it.
    FStarted = false;
    if (FLibrary.Load(FAppDir + kHookLibraryFile)) {
        const auto result = FLibrary.CallSetHooks(FAppDir + kHookCompanionFile);
        // The export returns a boolean; only its low byte carries it.
        FStarted = result && (*result & 0xFF) != 0;
    }
    if (!FStarted)
        FView.ShowHookError(kHookStartFailedText);
}

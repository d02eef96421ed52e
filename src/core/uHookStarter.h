#pragma once
// The hook files check and the hook start that the main window runs while it is created. On Linux
// the hook side is the companion service "vardeld" and the library "libVardelHk.so", both beside
// the program; the library registers our hook socket with the service.
#include "platform/IFileSystem.h"
#include "platform/IHookLibrary.h"

#include <string>
#include <vector>

inline constexpr const char* kHookCompanionFile = "vardeld";
inline constexpr const char* kHookLibraryFile = "libVardelHk.so";
inline constexpr const char* kHookWindowTitle = "Qm Vardel";
inline constexpr const char* kMissingHookFilesText =
    "Uwaga! Brakuje ważnych plików umożliwiających poprawne \r\ndziałanie programu Qm Vardel. Konieczna jest "
    "reinstalacja \r\nprogramu.";
inline constexpr const char* kHookStartFailedText =
    "Niezidentyfikowany błąd krytyczny. Konieczna jest reinstalacja programu.";

// What the hook start needs of the main window.
class IHookStartView {
public:
    virtual ~IHookStartView() = default;
    virtual void ShowHookError(const std::string& text) = 0; // error box, OK button
    virtual void SetWindowTitle(const std::string& title) = 0;
};

class THookStarter {
public:
    THookStarter(std::string appDir, const IFileSystem& fileSystem, IHookLibrary& library,
                 IHookStartView& view);

    // The files in the order they are checked; the companion comes first.
    std::vector<std::string> RequiredFiles() const;
    // The first missing file shows the error box and returns false: the caller abandons the rest
    // of its start-up sequence silently.
    bool CheckHookFiles();
    // Title, load, SetHooks; a failure shows its error box and the start-up goes on.
    void StartHooks();
    bool Started() const { return FStarted; }

private:
    std::string FAppDir;
    const IFileSystem& FFileSystem;
    IHookLibrary& FLibrary;
    IHookStartView& FView;
    bool FStarted = false;
};

#pragma once
// The display name of a program file on Linux: the Name of an application's desktop entry
// ($XDG_DATA_HOME/applications, then each $XDG_DATA_DIRS folder's applications/) whose Exec
// runs the file (its first word, searched on PATH when it has no slash), else the file name.
#include "platform/IDisplayName.h"

#include <string>
#include <vector>

struct TLinuxDisplayNameRoots {
    std::string DataHome;   // $XDG_DATA_HOME; empty for ~/.local/share
    std::string DataDirs;   // $XDG_DATA_DIRS; empty for /usr/local/share:/usr/share
    std::string Home;       // $HOME
    std::string SearchPath; // $PATH
};

class TLinuxDisplayName : public IDisplayName {
public:
    explicit TLinuxDisplayName(TLinuxDisplayNameRoots roots);
    static TLinuxDisplayNameRoots SystemRoots();
    std::string DisplayName(const std::string& path) const override;

private:
    std::vector<std::string> ApplicationDirs() const;
    std::string Resolve(const std::string& program) const;
    TLinuxDisplayNameRoots FRoots;
};

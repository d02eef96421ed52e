#include "platform/linux/uLinuxDisplayName.h"

#include "platform/linux/uLinuxAutoStart.h"
#include "util/uCommandLine.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> out;
    std::string piece;
    std::istringstream in(text);
    while (std::getline(in, piece, sep))
        if (!piece.empty())
            out.push_back(piece);
    return out;
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

} // namespace

TLinuxDisplayName::TLinuxDisplayName(TLinuxDisplayNameRoots roots) : FRoots(std::move(roots)) {}

TLinuxDisplayNameRoots TLinuxDisplayName::SystemRoots() {
    return {Env("XDG_DATA_HOME"), Env("XDG_DATA_DIRS"), Env("HOME"), Env("PATH")};
}

std::vector<std::string> TLinuxDisplayName::ApplicationDirs() const {
    std::vector<std::string> dirs;
    if (!FRoots.DataHome.empty() && FRoots.DataHome.front() == '/')
        dirs.push_back(FRoots.DataHome + "/applications");
    else if (!FRoots.Home.empty())
        dirs.push_back(FRoots.Home + "/.local/share/applications");
    std::vector<std::string> data = Split(FRoots.DataDirs, ':');
    if (data.empty())
        data = {"/usr/local/share", "/usr/share"};
    for (const std::string& d : data)
        if (d.front() == '/')
            dirs.push_back(d + "/applications");
    return dirs;
}

std::string TLinuxDisplayName::Resolve(const std::string& program) const {
    if (program.find('/') != std::string::npos)
        return program;
    for (const std::string& dir : Split(FRoots.SearchPath, ':'))
        if (IsFile(dir + "/" + program))
            return dir + "/" + program;
    return {};
}

std::string TLinuxDisplayName::DisplayName(const std::string& path) const {
    for (const std::string& dir : ApplicationDirs()) {
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            continue;
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name).ends_with(".desktop"))
                names.push_back(e->d_name);
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            std::ifstream in(dir + "/" + n);
            std::string line, name, exec;
            bool inMain = false;
            while (std::getline(in, line)) {
                line = Trim(line);
                if (!line.empty() && line.front() == '[') {
                    inMain = line == "[Desktop Entry]";
                    continue;
                }
                if (!inMain)
                    continue;
                if (line.starts_with("Name="))
                    name = TLinuxAutoStart::UnescapeValue(line.substr(5));
                else if (line.starts_with("Exec="))
                    exec = TLinuxAutoStart::UnescapeValue(line.substr(5));
            }
            const std::vector<std::string> words = qm::SplitCommandWords(exec);
            if (!name.empty() && !words.empty() && Resolve(words.front()) == path)
                return name;
        }
    }
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

#include "platform/linux/uLinuxAutoStartEntries.h"

#include "platform/linux/uLinuxAutoStart.h"
#include "platform/linux/uLinuxSafeFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm::linuxfs;

namespace {

// Entry files are small; anything larger is no entry of ours to judge.
constexpr std::size_t kMaxEntrySize = 1 << 20;

std::vector<std::string> SplitText(const std::string& text, char sep) {
    std::vector<std::string> out;
    std::string piece;
    std::istringstream in(text);
    while (std::getline(in, piece, sep))
        out.push_back(piece);
    return out;
}

std::string TrimBlanks(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// The whole text of a regular file (links not followed), or nothing.
bool ReadEntry(const std::string& path, std::string& text, struct stat& st) {
    const TFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > kMaxEntrySize)
        return false;
    text.assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.Get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return true;
}

void AddUnique(std::vector<std::string>& list, std::string dir) {
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (std::find(list.begin(), list.end(), dir) == list.end())
        list.push_back(std::move(dir));
}

bool CanWriteDir(const std::string& dir) {
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

} // namespace

TLinuxAutoStartEntries::TLinuxAutoStartEntries(TLinuxAutoStartRoots roots) : FRoots(std::move(roots)) {}

TLinuxAutoStartRoots TLinuxAutoStartEntries::SystemRoots() {
    TLinuxAutoStartRoots roots;
    if (const char* v = std::getenv("XDG_CONFIG_DIRS"))
        roots.ConfigDirs = v;
    if (const char* v = std::getenv("XDG_CONFIG_HOME"))
        roots.ConfigHome = v;
    roots.CurrentUid = ::getuid();
    return roots;
}

std::vector<std::string> TLinuxAutoStartEntries::UserConfigDirs() const {
    std::vector<std::string> dirs;
    std::ifstream in(FRoots.PasswdFile);
    std::string line;
    bool sawCurrent = false;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = SplitText(line, ':');
        if (f.size() < 6 || f[5].empty() || f[5].front() != '/' || f[5] == "/")
            continue;
        const bool current = f[2] == std::to_string(FRoots.CurrentUid);
        // The running user's own configuration may live elsewhere.
        if (current && !FRoots.ConfigHome.empty() && FRoots.ConfigHome.front() == '/') {
            AddUnique(dirs, FRoots.ConfigHome);
            sawCurrent = true;
        } else {
            AddUnique(dirs, f[5] + "/.config");
        }
    }
    if (!sawCurrent && !FRoots.ConfigHome.empty() && FRoots.ConfigHome.front() == '/')
        AddUnique(dirs, FRoots.ConfigHome);
    return dirs;
}

std::vector<std::string> TLinuxAutoStartEntries::DesktopEntryDirs() const {
    std::vector<std::string> dirs;
    bool any = false;
    for (const std::string& d : SplitText(FRoots.ConfigDirs, ':'))
        if (!d.empty() && d.front() == '/') { // only absolute folders count, as the XDG rules say
            AddUnique(dirs, d + "/autostart");
            any = true;
        }
    if (!any)
        AddUnique(dirs, "/etc/xdg/autostart");
    for (const std::string& c : UserConfigDirs())
        AddUnique(dirs, c + "/autostart");
    return dirs;
}

std::vector<std::string> TLinuxAutoStartEntries::UnitDirs() const {
    std::vector<std::string> dirs;
    if (!FRoots.SystemUnitDir.empty())
        AddUnique(dirs, FRoots.SystemUnitDir);
    for (const std::string& c : UserConfigDirs())
        AddUnique(dirs, c + "/systemd/user");
    return dirs;
}

std::vector<std::string> TLinuxAutoStartEntries::DesktopCommands(const std::string& text) {
    std::vector<std::string> out;
    bool inMain = false;
    for (const std::string& raw : SplitText(text, '\n')) {
        const std::string line = TrimBlanks(raw);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        const auto eq = line.find('=');
        if (!inMain || eq == std::string::npos)
            continue;
        const std::string key = TrimBlanks(line.substr(0, eq));
        if (key == "Exec" || key == "TryExec")
            out.push_back(TLinuxAutoStart::UnescapeValue(TrimBlanks(line.substr(eq + 1))));
    }
    return out;
}

std::vector<std::string> TLinuxAutoStartEntries::UnitCommands(const std::string& text) {
    std::vector<std::string> out;
    std::string logical;
    const auto take = [&](const std::string& line) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            return;
        const std::string key = TrimBlanks(line.substr(0, eq));
        if (key == "ExecStart" || key == "ExecStartPre")
            out.push_back(TrimBlanks(line.substr(eq + 1)));
    };
    for (const std::string& raw : SplitText(text, '\n')) {
        std::string line = TrimBlanks(raw);
        if (logical.empty() && (line.empty() || line.front() == '#' || line.front() == ';'))
            continue;
        if (!line.empty() && line.back() == '\\') { // continued on the next line
            line.pop_back();
            logical += line + " ";
            continue;
        }
        logical += line;
        take(logical);
        logical.clear();
    }
    if (!logical.empty())
        take(logical);
    return out;
}

std::vector<TAutoStartEntry> TLinuxAutoStartEntries::List() const {
    std::vector<TAutoStartEntry> entries;
    const auto addDir = [&](const std::string& dir, TAutoStartKind kind) {
        for (const std::string& name : SortedNames(dir)) {
            const bool wanted =
                kind == akDesktopEntry ? name.ends_with(".desktop") : name.ends_with(".service");
            if (!wanted)
                continue;
            std::string text;
            struct stat st {};
            if (!ReadEntry(dir + "/" + name, text, st))
                continue;
            TAutoStartEntry e;
            e.Kind = kind;
            e.Location = dir;
            e.Name = name;
            e.Commands = kind == akDesktopEntry ? DesktopCommands(text) : UnitCommands(text);
            e.Facts = FactsOf(st);
            if (kind == akSystemdUnit) {
                // The links that make the unit start: <dir>/<target>.wants/<name> and .requires.
                for (const std::string& sub : SortedNames(dir)) {
                    if (!sub.ends_with(".wants") && !sub.ends_with(".requires"))
                        continue;
                    const std::string link = dir + "/" + sub + "/" + name;
                    std::string target(4096, '\0');
                    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
                    if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
                        continue;
                    target.resize(static_cast<std::size_t>(n));
                    e.Links.push_back({link, target});
                }
            }
            entries.push_back(std::move(e));
        }
    };
    for (const std::string& d : DesktopEntryDirs())
        addDir(d, akDesktopEntry);
    for (const std::string& d : UnitDirs())
        addDir(d, akSystemdUnit);
    return entries;
}

bool TLinuxAutoStartEntries::CanRemove(const TAutoStartEntry& entry) const {
    if (!CanWriteDir(entry.Location))
        return false;
    return std::all_of(entry.Links.begin(), entry.Links.end(),
                       [](const TAutoStartLink& l) { return CanWriteDir(DirPart(l.Path)); });
}

TMoveResult TLinuxAutoStartEntries::Backup(const TAutoStartEntry& entry, const std::string& backupDir,
                                           const std::string& name) {
    TMoveResult r;
    if (!MakeDirectories(backupDir, 0700)) {
        r.Error = backupDir + ": " + ErrorText(errno);
        return r;
    }
    const TFd dir = OpenDir(backupDir);
    const TFd src(::open(entry.Path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!dir.Valid() || !src.Valid() || ::fstat(src.Get(), &st) != 0) {
        r.Error = entry.Path() + ": " + ErrorText(errno);
        return r;
    }
    r.Facts = FactsOf(st);
    bool taken = false;
    if (CopyInto(src.Get(), dir.Get(), name, 0600, r.Error, &taken))
        r.Status = msMoved;
    else if (taken)
        r.Status = msNameTaken;
    return r;
}

bool TLinuxAutoStartEntries::Remove(const TAutoStartEntry& entry) {
    for (const TAutoStartLink& l : entry.Links) {
        const TFd dir = OpenDir(DirPart(l.Path));
        struct stat st {};
        // Only the link itself, and only while it is one.
        if (dir.Valid() && ::fstatat(dir.Get(), NamePart(l.Path).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            ::unlinkat(dir.Get(), NamePart(l.Path).c_str(), 0);
    }
    const TFd dir = OpenDir(entry.Location);
    return dir.Valid() && ::unlinkat(dir.Get(), entry.Name.c_str(), 0) == 0;
}

TMoveResult TLinuxAutoStartEntries::Restore(const TAutoStartEntry& entry, const std::string& backupPath) {
    TMoveResult r;
    struct stat st {};
    if (::lstat(entry.Path().c_str(), &st) == 0) {
        r.Status = msNameTaken;
        return r;
    }
    if (!MakeDirectories(entry.Location, 0755)) {
        r.Error = entry.Location + ": " + ErrorText(errno);
        return r;
    }
    const TFd dir = OpenDir(entry.Location);
    const TFd src(::open(backupPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!dir.Valid() || !src.Valid()) {
        r.Error = backupPath + ": " + ErrorText(errno);
        return r;
    }
    bool taken = false;
    if (!CopyInto(src.Get(), dir.Get(), entry.Name, static_cast<mode_t>(entry.Facts.Mode & 07777), r.Error,
                  &taken)) {
        r.Status = taken ? msNameTaken : msFailed;
        return r;
    }
    r.Status = msMoved;
    const TFd placed(::openat(dir.Get(), entry.Name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (placed.Valid())
        ApplyFacts(placed.Get(), entry.Facts, r.Error);
    for (const TAutoStartLink& l : entry.Links) {
        if (!MakeDirectories(DirPart(l.Path), 0755) || ::symlink(l.Target.c_str(), l.Path.c_str()) != 0)
            r.Error = l.Path + ": " + ErrorText(errno);
    }
    return r;
}

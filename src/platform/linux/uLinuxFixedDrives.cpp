#include "platform/linux/uLinuxFixedDrives.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <sstream>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

constexpr std::array<std::string_view, 10> kDiskFileSystems = {"ext2", "ext3", "ext4",  "xfs",   "btrfs",
                                                               "f2fs", "vfat", "exfat", "ntfs3", "fuseblk"};

// mountinfo writes blanks, tabs, line breaks and backslashes in paths as three octal digits.
std::string Unescape(std::string_view field) {
    const auto octal = [](char c) {
        return c >= '0' && c <= '7';
    };
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
            octal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += field[i];
    }
    return out;
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const struct dirent* d = ::readdir(dir))
            if (std::string_view(d->d_name) != "." && std::string_view(d->d_name) != "..")
                names.emplace_back(d->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A device's sysfs folder is removable when the disk under it is: through device-mapper or md
// (slaves), through a partition (its parent disk), or by its own flag.
bool SysfsRemovable(const std::string& dir, int depth) {
    if (depth > 8)
        return false;
    const std::vector<std::string> slaves = ListFolder(dir + "/slaves");
    if (!slaves.empty()) {
        for (const std::string& slave : slaves)
            if (SysfsRemovable(dir + "/slaves/" + slave, depth + 1))
                return true;
        return false;
    }
    if (Exists(dir + "/partition"))
        return SysfsRemovable(dir + "/..", depth + 1);
    const std::string flag = ReadSmallFile(dir + "/removable");
    return !flag.empty() && flag[0] == '1';
}

bool IsInside(std::string_view path, std::string_view folder) {
    if (folder == "/")
        return true;
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

} // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
    std::vector<TMountEntry> mounts;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        std::vector<std::string_view> fields;
        for (std::size_t pos = 0; pos < line.size();) {
            const std::size_t end = std::min(line.find(' ', pos), line.size());
            if (end > pos)
                fields.push_back(line.substr(pos, end - pos));
            pos = end + 1;
        }
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 || fields.end() - dash < 3)
            continue;
        TMountEntry m;
        const std::string_view dev = fields[2];
        const std::size_t colon = dev.find(':');
        if (colon == std::string_view::npos)
            continue;
        try {
            m.Major = static_cast<unsigned>(std::stoul(std::string(dev.substr(0, colon))));
            m.Minor = static_cast<unsigned>(std::stoul(std::string(dev.substr(colon + 1))));
        } catch (const std::exception&) {
            continue;
        }
        m.Root = Unescape(fields[3]);
        m.MountPoint = Unescape(fields[4]);
        m.FsType = std::string(dash[1]);
        m.Source = Unescape(dash[2]);
        mounts.push_back(std::move(m));
    }
    return mounts;
}

TLinuxFixedDrives::TLinuxFixedDrives(std::string mountInfoPath, std::string sysfsRoot)
    : FMountInfoPath(std::move(mountInfoPath)), FSysfsRoot(std::move(sysfsRoot)) {}

bool TLinuxFixedDrives::IsRemovable(const TMountEntry& mount) const {
    std::string dir;
    if (mount.Major != 0) {
        dir = FSysfsRoot + "/dev/block/" + std::to_string(mount.Major) + ":" + std::to_string(mount.Minor);
    } else {
        // btrfs and fuseblk show an anonymous device number; their source names the device.
        struct stat st {};
        if (::stat(mount.Source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            dir = FSysfsRoot + "/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                  std::to_string(minor(st.st_rdev));
        }
        if (dir.empty() || !Exists(dir)) {
            const std::string classDir = FSysfsRoot + "/class/block/";
            const std::string_view source = std::string_view(mount.Source).substr(5);
            if (source.starts_with("mapper/")) {
                for (const std::string& name : ListFolder(classDir))
                    if (ReadSmallFile(classDir + name + "/dm/name") == std::string(source.substr(7)) + "\n")
                        dir = classDir + name;
            } else {
                dir = classDir + std::string(source.substr(source.rfind('/') + 1));
            }
        }
    }
    // A device that sysfs does not know (a container's view) is taken as the fixed disk it
    // usually is.
    return Exists(dir) && SysfsRemovable(dir, 0);
}

std::vector<std::string> TLinuxFixedDrives::Roots() const {
    std::vector<TMountEntry> candidates;
    for (TMountEntry& m : ParseMountInfo(ReadSmallFile(FMountInfoPath))) {
        if (std::find(kDiskFileSystems.begin(), kDiskFileSystems.end(), m.FsType) == kDiskFileSystems.end())
            continue;
        if (m.Major == 0 && !m.Source.starts_with("/dev/"))
            continue; // no block device under it (a fuse filesystem of files, for one)
        if (IsRemovable(m))
            continue;
        candidates.push_back(std::move(m));
    }
    // Per device, the mount showing the widest part of it goes first (then the shorter mount
    // point); a later mount whose root lies inside a chosen one shows nothing new.
    const auto device = [](const TMountEntry& m) {
        return m.Major != 0 ? std::to_string(m.Major) + ":" + std::to_string(m.Minor) : "src:" + m.Source;
    };
    std::stable_sort(candidates.begin(), candidates.end(), [](const TMountEntry& a, const TMountEntry& b) {
        if (a.Root.size() != b.Root.size())
            return a.Root.size() < b.Root.size();
        return a.MountPoint.size() < b.MountPoint.size();
    });
    std::map<std::string, std::vector<std::string>> chosenRoots;
    std::vector<std::string> roots;
    for (const TMountEntry& m : candidates) {
        std::vector<std::string>& chosen = chosenRoots[device(m)];
        if (std::any_of(chosen.begin(), chosen.end(),
                        [&](const std::string& r) { return IsInside(m.Root, r); }))
            continue;
        chosen.push_back(m.Root);
        roots.push_back(m.MountPoint == "/" ? m.MountPoint : m.MountPoint + "/");
    }
    std::sort(roots.begin(), roots.end());
    return roots;
}

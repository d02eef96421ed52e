#pragma once
// The fixed disks on Linux: the local block-device mounts of a mountinfo file whose device is not
// removable. A device is removable when its disk says so in sysfs (<disk>/removable), through
// its partitions and through device-mapper or md devices over it (<dev>/slaves). Each device is
// walked once: of its mounts, those whose root inside the filesystem lies within another mount's
// root are left out, so a bind mount of a folder adds nothing, while two btrfs subvolumes mounted
// side by side (@ at /, @home at /home) are both walked. Roots come in mount-point order.
#include "platform/IFixedDrives.h"

#include <string>
#include <string_view>
#include <vector>

struct TMountEntry {
    unsigned Major = 0;
    unsigned Minor = 0;
    std::string Root;       // the folder of the filesystem shown at the mount point
    std::string MountPoint; // escapes (\040 and the like) decoded
    std::string FsType;
    std::string Source;
};

// The lines of a mountinfo file; malformed lines are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);

class TLinuxFixedDrives : public IFixedDrives {
public:
    explicit TLinuxFixedDrives(std::string mountInfoPath = "/proc/self/mountinfo",
                               std::string sysfsRoot = "/sys");
    std::vector<std::string> Roots() const override;

private:
    bool IsRemovable(const TMountEntry& mount) const;

    std::string FMountInfoPath;
    std::string FSysfsRoot;
};

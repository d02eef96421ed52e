#pragma once
// Port: the fixed disks a scan walks. On Linux: local block-device mounts from
// /proc/self/mountinfo (ext2/3/4, xfs, btrfs, f2fs, vfat, exfat, ntfs3, fuseblk) that are not
// removable, each part of a device once (uLinuxFixedDrives.h).
#include <string>
#include <vector>

class IFixedDrives {
public:
    virtual ~IFixedDrives() = default;
    // The root folder of each fixed disk, in a stable order, each ending with the path delimiter.
    // Called on the user-interface thread when a scan starts.
    virtual std::vector<std::string> Roots() const = 0;
};

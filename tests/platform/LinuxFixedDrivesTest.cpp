// The fixed disks from a fixture mountinfo over a fixture sysfs laid out as the kernel lays it out
// (dev/block/M:m links into devices/, partitions inside their disk, slaves of device-mapper).
#include "platform/linux/uLinuxFixedDrives.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace {

// A block device in the fixture sysfs: devices/<path>, linked from dev/block/<numbers> and
// class/block/<name>.
void Device(const TTempDir& sys, const std::string& path, const std::string& numbers,
            const std::string& removable) {
    const std::string dir = "devices/" + path;
    fs::create_directories(sys / dir);
    if (!removable.empty())
        sys.Write(dir + "/removable", removable + "\n");
    else
        sys.Write(dir + "/partition", "1\n");
    fs::create_directories(sys / "dev/block");
    fs::create_directories(sys / "class/block");
    fs::create_directory_symlink("../../" + dir, sys / ("dev/block/" + numbers));
    fs::create_directory_symlink("../../" + dir, sys / ("class/block/" + fs::path(path).filename().string()));
}

} // namespace

TEST(FixedDrives, LocalDisksOnceEachAndNothingRemovable) {
    TTempDir sys;
    Device(sys, "vda", "254:0", "0");
    Device(sys, "sda", "8:0", "0");
    Device(sys, "sda/sda1", "8:1", "");
    Device(sys, "sda/sda3", "8:3", "");
    Device(sys, "sdb", "8:16", "1");
    Device(sys, "sdb/sdb1", "8:17", "");
    Device(sys, "sdb/sdb2", "8:18", "");
    Device(sys, "dm-0", "253:0", "0"); // a mapping over the removable stick
    fs::create_directories(sys / "devices/dm-0/slaves");
    fs::create_directory_symlink("../../sdb/sdb2", sys / "devices/dm-0/slaves/sdb2");
    Device(sys, "dm-1", "253:1", "0"); // a mapping over the fixed disk, known by its name only
    sys.Write("devices/dm-1/dm/name", "vg-data\n");
    fs::create_directories(sys / "devices/dm-1/slaves");
    fs::create_directory_symlink("../../sda/sda1", sys / "devices/dm-1/slaves/sda1");

    TTempDir t;
    const std::string mountinfo =
        t.Write("mountinfo", "21 26 0:20 / /proc rw - proc proc rw\n"
                             "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                             "27 26 8:1 / /home rw - xfs /dev/sda1 rw\n"
                             "28 26 8:1 /user/share /srv/share rw - xfs /dev/sda1 rw\n"
                             "29 26 8:17 / /media/stick rw shared:5 - vfat /dev/sdb1 rw\n"
                             "30 26 253:0 / /media/crypt rw - ext4 /dev/mapper/luks rw\n"
                             "31 26 0:40 /@data /data rw - btrfs /dev/mapper/vg-data rw\n"
                             "32 26 0:40 /@data/sub /data2 rw - btrfs /dev/mapper/vg-data rw\n"
                             "33 26 0:41 /@games /mnt/my\\040games rw - btrfs /dev/mapper/vg-data rw\n"
                             "34 26 0:50 / /win rw - fuseblk /dev/sda3 rw\n"
                             "35 26 0:51 / /net rw - fuse.sshfs host: rw\n"
                             "36 26 0:52 / /odd rw - fuseblk memory rw\n"
                             "37 26 0:22 / /tmp rw - tmpfs tmpfs rw\n"
                             "38 26 0:23 / /snap rw - squashfs /dev/loop3 ro\n"
                             "broken line\n");
    const TLinuxFixedDrives drives(mountinfo, sys.Path());
    EXPECT_EQ(drives.Roots(), (std::vector<std::string>{"/", "/data/", "/home/", "/mnt/my games/", "/win/"}));
}

TEST(FixedDrives, NoDiskOnAnOverlayRoot) {
    TTempDir t;
    const std::string mountinfo = t.Write("mountinfo", "1 0 0:30 / / rw - overlay overlay rw,lowerdir=/l\n"
                                                       "2 1 0:31 / /dev rw - tmpfs tmpfs rw\n");
    EXPECT_TRUE(TLinuxFixedDrives(mountinfo, t / "sys").Roots().empty());
    EXPECT_TRUE(TLinuxFixedDrives(t / "missing", t / "sys").Roots().empty());
}

// Mount points come from whoever named the folder (a disk label, a user's mkdir): any bytes the
// kernel escapes must come back as they were, and no line may run into the next.
TEST(FixedDrives, MountInfoPathsRoundTripThroughTheKernelsEscapes) {
    std::mt19937 random(20261209);
    const std::string alphabet = std::string("ab/ .\t\n\\#-0") + "\xc5\x82" + "\x01\xff";
    const auto randomPath = [&] {
        std::string path = "/";
        const int length = std::uniform_int_distribution<int>(0, 12)(random);
        for (int i = 0; i < length; ++i)
            path += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
        return path;
    };
    // As the kernel writes them (seq_escape with " \t\n\\").
    const auto escape = [](const std::string& path) {
        std::string out;
        for (const char c : path) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
                char octal[5];
                std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
                out += octal;
            } else {
                out += c;
            }
        }
        return out;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> roots, points;
        std::string text;
        for (int line = 0; line < 3; ++line) {
            roots.push_back(randomPath());
            points.push_back(randomPath());
            text += std::to_string(20 + line) + " 1 8:" + std::to_string(line) + " " + escape(roots.back()) +
                    " " + escape(points.back()) + " rw shared:1 - ext4 /dev/sda" + std::to_string(line) +
                    " rw\n";
        }
        const std::vector<TMountEntry> mounts = ParseMountInfo(text);
        ASSERT_EQ(mounts.size(), 3u) << text;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(mounts[i].Root, roots[i]);
            EXPECT_EQ(mounts[i].MountPoint, points[i]);
            EXPECT_EQ(mounts[i].Minor, i);
            EXPECT_EQ(mounts[i].FsType, "ext4");
        }
    }
}

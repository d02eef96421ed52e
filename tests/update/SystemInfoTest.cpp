#include "platform/linux/uLinuxSystemInfo.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

TEST(LinuxSystemInfo, ReadsTheFactsFromFixtureTrees) {
    TTempDir t;
    t.Write("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Core(TM) i5\n"
                            "cpu MHz\t\t: 2893.204\n\nprocessor\t: 1\nvendor_id\t: Other\n");
    t.Write("proc/sys/kernel/ostype", "Linux\n");
    t.Write("proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
    t.Write("sys/class/dmi/id/bios_date", "03/21/2019\n");
    const TUpdateSystemInfo info = TLinuxSystemInfo(t / "proc", t / "sys", t / "dev", t.Path()).Read();
    EXPECT_EQ(info.CpuManufacture, "GenuineIntel");
    EXPECT_EQ(info.CpuName, "Intel(R) Core(TM) i5");
    EXPECT_EQ(info.CpuFreq, "2893");
    EXPECT_EQ(info.WinVer, "Linux 6.1.0-18-amd64");
    EXPECT_EQ(info.WinVerNo, "6.1");
    EXPECT_EQ(info.WinType, "");
    EXPECT_EQ(info.SysVolSerialNo, "") << "no device links in the fixture";
    EXPECT_EQ(info.BiosDate, "21.03.2019");

    const TUpdateSystemInfo empty = TLinuxSystemInfo(t / "none", t / "none", t / "none", t / "none").Read();
    EXPECT_EQ(empty.CpuFreq, "0");
    EXPECT_EQ(empty.WinVer, "");
    EXPECT_EQ(empty.BiosDate, "30.12.1899");
}

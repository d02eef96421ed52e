#pragma once
// The optional facts of an update request on Linux: the processor from cpuinfo, the kernel name and
// release for the system version, the root filesystem's UUID (first eight hex digits, as
// "XXXX-XXXX") for the system volume's serial number, and the DMI BIOS date.
#include "platform/ISystemInfo.h"

class TLinuxSystemInfo : public ISystemInfo {
public:
    TLinuxSystemInfo(std::string procDir = "/proc", std::string sysDir = "/sys", std::string devDir = "/dev",
                     std::string rootDir = "/");
    TUpdateSystemInfo Read() const override;

private:
    std::string FProcDir, FSysDir, FDevDir, FRootDir;
};

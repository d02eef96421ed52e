#pragma once
// Port: facts about the machine that an update request may carry (only when its options ask).
#include <string>

struct TUpdateSystemInfo {
    std::string CpuManufacture, CpuName, CpuFreq;
    std::string WinVer, WinVerNo, WinType;
    std::string SysVol, SysVolSerialNo;
    std::string BiosDate;
};

class ISystemInfo {
public:
    virtual ~ISystemInfo() = default;
    // A fact that cannot be read is empty (the BIOS date: 30.12.1899, the clock: "0").
    virtual TUpdateSystemInfo Read() const = 0;
};

#include "platform/linux/uLinuxSystemInfo.h"

#include "util/libStrUtilsQmPack.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return qm::Trim(line);
}

// The value of the first "key : value" line of cpuinfo.
std::string CpuField(const std::string& cpuinfo, const std::string& key) {
    std::istringstream in(cpuinfo);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && qm::Trim(line.substr(0, colon)) == key)
            return qm::Trim(line.substr(colon + 1));
    }
    return {};
}

} // namespace

TLinuxSystemInfo::TLinuxSystemInfo(std::string procDir, std::string sysDir, std::string devDir,
                                   std::string rootDir)
    : FProcDir(std::move(procDir)), FSysDir(std::move(sysDir)), FDevDir(std::move(devDir)),
      FRootDir(std::move(rootDir)) {}

TUpdateSystemInfo TLinuxSystemInfo::Read() const {
    TUpdateSystemInfo info;
    std::ifstream cpu(FProcDir + "/cpuinfo");
    std::stringstream text;
    text << cpu.rdbuf();
    info.CpuManufacture = CpuField(text.str(), "vendor_id");
    info.CpuName = CpuField(text.str(), "model name");
    const std::string mhz = CpuField(text.str(), "cpu MHz");
    info.CpuFreq = mhz.empty() ? "0" : mhz.substr(0, mhz.find('.'));

    const std::string type = FirstLine(FProcDir + "/sys/kernel/ostype");
    const std::string release = FirstLine(FProcDir + "/sys/kernel/osrelease");
    if (!type.empty())
        info.WinVer = type + " " + release;
    const std::size_t dot = release.find('.');
    if (dot != std::string::npos) {
        const std::size_t end = release.find_first_not_of("0123456789", dot + 1);
        info.WinVerNo = release.substr(0, end);
    }

    info.SysVol = FRootDir;
    struct stat root {};
    std::error_code ec;
    if (::stat(FRootDir.c_str(), &root) == 0) {
        for (const auto& entry : std::filesystem::directory_iterator(FDevDir + "/disk/by-uuid", ec)) {
            struct stat device {};
            if (::stat(entry.path().c_str(), &device) != 0 || !S_ISBLK(device.st_mode) ||
                device.st_rdev != root.st_dev)
                continue;
            std::string hex;
            for (const char c : entry.path().filename().string())
                if (qm::HexDigitValue(c) >= 0 && hex.size() < 8)
                    hex += qm::UpperAscii(c);
            if (hex.size() == 8)
                info.SysVolSerialNo = hex.substr(0, 4) + "-" + hex.substr(4);
            break;
        }
    }

    // DMI gives MM/DD/YYYY; the request carries the Polish short date.
    const std::string bios = FirstLine(FSysDir + "/class/dmi/id/bios_date");
    info.BiosDate = "30.12.1899";
    if (bios.size() == 10 && bios[2] == '/' && bios[5] == '/')
        info.BiosDate = bios.substr(3, 2) + "." + bios.substr(0, 2) + "." + bios.substr(6);
    return info;
}

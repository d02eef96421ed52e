#pragma once
// Processes on Linux: the list from the proc root, ending through pidfds (SIGTERM, a grace period,
// SIGKILL), detached starts by a double fork.
#include "platform/IProcessControl.h"

#include <string>

class TLinuxProcessControl : public IProcessControl {
public:
    // procDir is the proc root ("/proc"); graceMs how long the ended processes get before SIGKILL.
    explicit TLinuxProcessControl(std::string procDir = "/proc", int graceMs = 5000);
    std::optional<std::vector<TProcessInfo>> ListProcesses() override;
    void EndProcesses(const std::vector<TProcessInfo>& processes) override;
    bool StartDetached(const std::vector<std::string>& argv) override;
    std::optional<std::vector<TProcessExecutable>> ListExecutables() override;
    void EndExecutable(const TProcessExecutable& process) override;

private:
    std::string CommandName(int pid) const;
    // The executable's path, " (deleted)" dropped; empty when it cannot be read.
    std::string ExecutablePath(int pid) const;
    std::vector<int> Pids() const;
    std::string FProcDir;
    int FGraceMs;
};

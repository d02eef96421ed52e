#pragma once
// Port: the processes of the system, as far as the remote-access layer needs them: find them by
// command name, end them, start a program that outlives us.
#include <optional>
#include <string>
#include <vector>

struct TProcessInfo {
    int Pid = 0;
    std::string Name; // the command name the kernel keeps for the process
};

class IProcessControl {
public:
    virtual ~IProcessControl() = default;
    // Every process but our own; nothing when the process list cannot be read.
    virtual std::optional<std::vector<TProcessInfo>> ListProcesses() = 0;
    // Asks each process to end, waits a grace period for all of them together, then kills those
    // that are left. A process that is no longer the one listed is left alone.
    virtual void EndProcesses(const std::vector<TProcessInfo>& processes) = 0;
    // Starts argv[0] (searched on PATH) detached from us; false when it cannot be started.
    virtual bool StartDetached(const std::vector<std::string>& argv) = 0;
};

#pragma once
// Port: the processes of the system, as far as the remote-access layer and the dialer removal need
// them: find them by command name or by executable, end them, start a program that outlives us.
#include <optional>
#include <string>
#include <vector>

struct TProcessInfo {
    int Pid = 0;
    std::string Name; // the command name the kernel keeps for the process
};

struct TProcessExecutable {
    int Pid = 0;
    std::string Path; // the full path of the file the process runs
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
    // Every process but our own with the full path of its executable; processes whose executable
    // cannot be read are left out; nothing when the process list cannot be read (or this system
    // offers no such list).
    virtual std::optional<std::vector<TProcessExecutable>> ListExecutables() { return std::nullopt; }
    // Asks the process to end, waits the grace period, then kills it. A process that no longer
    // runs process.Path (its pid reused meanwhile) is left alone.
    virtual void EndExecutable(const TProcessExecutable& process) { (void)process; }
};

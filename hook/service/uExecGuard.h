#pragma once
// Program-start interception: fanotify FAN_OPEN_EXEC_PERM on whole filesystems. Each event becomes a
// program-start notice to the registered guards, and the event is answered from their Result.
//
// Safety rules this file owns: every permission event is answered exactly once on every path
// (answer first, log second); the service's own processes are allowed without asking, and a guard is
// never asked about itself or its direct children (it may be waiting for them); a guard that is
// gone is noticed by its connection closing and its events are allowed at once; no answer within
// the bound allows the start; the thread that answers never starts anything; the queue has no limit.
#include "uGuardRegistry.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

struct TExecGuardSettings {
    int AnswerBoundMs = 600000;
    std::vector<std::string> Mounts; // empty: every exec-capable local filesystem, re-marked as mounts change
    pid_t ServicePid = 0;            // 0: this process
};

struct TMountEntry {
    std::string MountPoint;
    std::string FsType;
    std::string Device; // major:minor
    bool NoExec = false;
};

// The program interpreter (the ELF loader) that a program names, as written in it, or empty.
std::string ElfInterpreter(int fd);

// The filesystems worth marking in a mountinfo text: exec-capable and local, one per device.
std::vector<TMountEntry> ExecCapableMounts(const std::string& mountinfo);

class TExecGuard {
public:
    TExecGuard(TGuardRegistry& guards, std::function<void(const std::string&)> log);
    ~TExecGuard();
    TExecGuard(const TExecGuard&) = delete;
    TExecGuard& operator=(const TExecGuard&) = delete;

    bool Start(const TExecGuardSettings& settings, std::string* why);
    // Allows every pending start and ends the thread.
    void Stop();
    void SetAnswerBound(int ms) { FBoundMs = ms; }
    bool Running() const { return FThread.joinable(); }

    std::uint64_t EventsAnswered() const { return FAnswered; }
    std::uint64_t EventsAsked() const { return FAsked; }

private:
    struct TPending;
    void Run();
    void MarkMounts();
    void OnEvents();
    void HandleEvent(int fd, pid_t pid);
    void Respond(int fd, bool allow);
    std::string RealLoaderPath(const std::string& interpreter);

    TGuardRegistry& FGuards;
    std::function<void(const std::string&)> FLog;
    TExecGuardSettings FSettings;
    std::atomic<int> FBoundMs{600000};
    int FFanotify = -1;
    int FWake = -1;
    int FMountInfo = -1;
    std::thread FThread;
    std::atomic<std::uint64_t> FAnswered{0}, FAsked{0};
    std::map<int, std::unique_ptr<TGuardQuery>> FPending; // event fd -> its question
    TGuardConnectionPool FPool;
    std::map<pid_t, std::string> FInterpreters;      // pid -> the loader its allowed program will open next
    std::map<std::string, std::string> FRealLoaders; // a loader as programs name it -> its real path
    class TPollLoop* FLoop = nullptr;
};

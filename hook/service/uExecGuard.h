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
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct TExecGuardSettings {
    int AnswerBoundMs = 600000;
    // How long the details of a start (its argv and folder, read from the starting process) may
    // take: a process whose memory a user holds (FUSE, userfaultfd) must not hold the others' starts.
    int ReadBoundMs = 100;
    // Answers about a file changed within this time are not remembered: it may change again within
    // one tick of the file-time clock and keep its times (the rule of racily clean files).
    int SettleMs = 1000;
    std::vector<std::string> Mounts; // empty: every exec-capable local filesystem, re-marked as mounts change
    pid_t ServicePid = 0;            // 0: this process
};

// What identifies a program file's content for the answers remembered about it.
struct TFileKey {
    std::uint64_t Dev = 0, Ino = 0;
    std::int64_t Size = 0, MtimeNs = 0, CtimeNs = 0;
    bool operator==(const TFileKey&) const = default;
};
struct TFileKeyHash {
    std::size_t operator()(const TFileKey& k) const noexcept {
        return std::hash<std::uint64_t>()(k.Ino * 0x9E3779B97F4A7C15ull ^ k.Dev ^
                                          static_cast<std::uint64_t>(k.MtimeNs) * 31 ^
                                          static_cast<std::uint64_t>(k.Size));
    }
};

// The first word of a command line the way the guard takes it (its first rule for the started
// program: trimmed, a leading double quote up to the next one, else up to the first blank).
std::string GuardFirstWord(const std::string& commandLine);

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
    // Steady-clock milliseconds of the answering loop's last round; the watchdog checks it.
    std::int64_t LastBeat() const { return FBeat.load(std::memory_order_relaxed); }

    std::uint64_t EventsAnswered() const { return FAnswered; }
    std::uint64_t EventsAsked() const { return FAsked; }
    std::uint64_t AnsweredFromMemory() const { return FRemembered; }

private:
    struct TPending;
    struct TDetails;
    class TReaders;
    struct TLoaderId {
        std::uint64_t Dev = 0, Ino = 0;
        bool operator==(const TLoaderId&) const = default;
    };
    struct TAnswerLine { // the fanotify descriptor as readers may use it: -1 once the service stops
        std::mutex Mutex;
        int Fd = -1;
    };
    struct TGuardMemory {
        std::uint64_t Epoch = 0;
        std::unordered_set<TFileKey, TFileKeyHash> NotDialers;
    };
    void Run();
    void MarkMounts();
    void OnEvents();
    void HandleEvent(int fd, pid_t pid);
    void RefreshGuards();
    void OnDetails(std::uint64_t job, const TDetails& details);
    void Finish(std::uint64_t job, bool allow, bool respond);
    void Remember(const TPending& p, const std::vector<std::uint64_t>& allowedBy);
    void Respond(int fd, bool allow);
    TLoaderId LoaderOf(int fd, const TFileKey& key);

    TGuardRegistry& FGuards;
    std::function<void(const std::string&)> FLog;
    TExecGuardSettings FSettings;
    std::atomic<int> FBoundMs{600000};
    std::atomic<std::int64_t> FBeat{0};
    int FFanotify = -1;
    std::shared_ptr<TAnswerLine> FAnswerLine;
    int FWake = -1;
    int FMountInfo = -1;
    bool FReportsThreads = false;
    std::thread FThread;
    std::atomic<std::uint64_t> FAnswered{0}, FAsked{0}, FRemembered{0};
    std::unordered_map<std::uint64_t, std::unique_ptr<TPending>> FPending; // job -> its start
    std::uint64_t FNextJob = 1;
    bool FTaken = false; // the event being handled has become a pending start
    std::unique_ptr<TReaders> FReaders;
    TGuardConnectionPool FPool;
    std::vector<TGuardEntry> FGuardList;
    std::uint64_t FGuardVersion = ~std::uint64_t(0);
    std::unordered_map<std::uint64_t, TGuardMemory> FMemory;        // guard id -> its "not a dialer" answers
    std::unordered_map<TFileKey, TLoaderId, TFileKeyHash> FLoaders; // program -> its ELF loader (0: none)
    std::map<std::string, TLoaderId> FRealLoaders; // a loader as programs name it -> its file
    std::unordered_map<pid_t, TLoaderId> FSlots;   // task -> the loader its allowed execve opens next
    std::int64_t FLastFdShortage = -1;
    class TPollLoop* FLoop = nullptr;
};

#pragma once
// Program-start interception: fanotify FAN_OPEN_EXEC_PERM on whole filesystems. Each event becomes a
// program-start notice to the registered guards, and the event is answered from their Result.
//
// Safety rules this file owns: every permission event is answered exactly once on every path
// (answer first, log second); the service's own processes are allowed without asking, and a guard is
// never asked about itself or its direct children (it may be waiting for them); a guard that is
// gone is noticed by its connection closing and its events are allowed at once; no answer within
// the bound allows the start; the thread that answers never starts anything; the queue has no limit.
//
// Threads: taker threads read the queue themselves, one event at a time, and answer at once what
// needs no question (no guard, the service's own, the loader slot, a remembered answer); what
// needs a question goes to the loop thread, which owns the guard connections and every question,
// and takes over a start whose details a taker could not read within the read bound.
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
    struct TEvent;
    struct TTaker;
    struct TMailbox;
    struct TLoaderId {
        std::uint64_t Dev = 0, Ino = 0;
        bool operator==(const TLoaderId&) const = default;
    };
    struct TGuardMemory {
        std::uint64_t Epoch = 0;
        std::unordered_set<TFileKey, TFileKeyHash> NotDialers;
    };
    enum class TTaken { Answered, HandedOver, TakenOver };
    // On a taker thread.
    void TakerMain(std::shared_ptr<TMailbox> box, std::shared_ptr<TTaker> me);
    TTaken Take(TTaker& me, int fd, pid_t pid);
    // Reads what the notice needs, touching nothing of the service (see Take).
    static void ReadDetails(const TEvent& e, TDetails& d);
    // On any thread: the part of an event's handling that waits on nothing a user holds.
    bool Classify(TEvent& e);
    // Narrows the event's guards to those who may hear of it; false when nobody (it was answered).
    bool ApplyIds(TEvent& e);
    bool Remembers(const std::vector<TGuardEntry>& guards, const TFileKey& key) const; // under FStateMutex
    void ResolveLoader(TEvent& e);
    void RefreshGuards();
    void Respond(int fd, bool allow);
    void Post(std::function<void()> f);
    // On the loop.
    void Run();
    void MarkMounts();
    void OnEvents();
    void OnTakerTimer(TTaker& t);
    void SpawnTaker();
    void CheckTakers();
    void AskAbout(TEvent e, const TDetails& details);
    void OnDetails(std::uint64_t job, const TDetails& details);
    void Finish(std::uint64_t job, bool allow, bool respond);
    void Remember(const TPending& p, const std::vector<std::uint64_t>& allowedBy);
    void NoteFdShortage();

    TGuardRegistry& FGuards;
    std::function<void(const std::string&)> FLog;
    TExecGuardSettings FSettings;
    std::atomic<int> FBoundMs{600000};
    std::atomic<std::int64_t> FBeat{0};
    int FFanotify = -1;
    int FWake = -1;
    int FMountInfo = -1;
    bool FReportsThreads = false;
    std::thread FThread;
    std::atomic<std::uint64_t> FAnswered{0}, FAsked{0}, FRemembered{0};
    // The takers: threads that read the fanotify queue one event at a time and answer what they can
    // themselves. Changed on the loop only; Stop ends them.
    std::shared_ptr<TMailbox> FMailbox;
    std::vector<std::shared_ptr<TTaker>> FTakers;
    bool FLoopReads = false; // every taker is held: the loop reads the queue itself
    // Loop only.
    std::unordered_map<std::uint64_t, std::unique_ptr<TPending>> FPending; // job -> its start
    std::uint64_t FNextJob = 1;
    TGuardConnectionPool FPool;
    std::uint64_t FPoolVersion = ~std::uint64_t(0);
    std::int64_t FLastFdShortage = -1;
    class TPollLoop* FLoop = nullptr;
    // Shared by the takers and the loop, under FStateMutex (never held while waiting on anything).
    std::mutex FStateMutex;
    std::vector<TGuardEntry> FGuardList;
    std::uint64_t FGuardVersion = ~std::uint64_t(0);
    std::unordered_map<std::uint64_t, TGuardMemory> FMemory;        // guard id -> its "not a dialer" answers
    std::unordered_map<TFileKey, TLoaderId, TFileKeyHash> FLoaders; // program -> its ELF loader (0: none)
    std::map<std::string, TLoaderId> FRealLoaders; // a loader as programs name it -> its file
    std::unordered_map<pid_t, TLoaderId> FSlots;   // task -> the loader its allowed execve opens next
};

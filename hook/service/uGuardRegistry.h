#pragma once
// The guards that registered their hook sockets with the service (through SetHooks), and the
// asynchronous question to all of them. A registration lasts as long as the guard keeps its control
// connection open, so a guard that ends is forgotten at once. Shared by the service's threads.
#include "uPollLoop.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

// The folder of a guard's socket, held open from its registration on: every question looks the
// socket up from here, one name within one filesystem, so no path walk (through a FUSE mount its
// user holds, or a mount put over the folder later) can hold or redirect the service.
struct TGuardFolder {
    int Fd = -1;
    explicit TGuardFolder(int fd) : Fd(fd) {}
    ~TGuardFolder();
    TGuardFolder(const TGuardFolder&) = delete;
    TGuardFolder& operator=(const TGuardFolder&) = delete;
};

// Opens the folder of socketPath for a registration; null with why when it is missing, not a
// folder, or on a filesystem whose lookups a user could hold (FUSE, network).
std::shared_ptr<const TGuardFolder> OpenGuardFolder(const std::string& socketPath, std::string* why);

struct TGuardEntry {
    std::uint64_t Id = 0;
    pid_t Pid = 0;
    uid_t Uid = 0;
    std::string SocketPath;
    std::shared_ptr<const TGuardFolder> Folder; // null: looked up by its path
    // Raised when the guard asks the service to forget its earlier "not a dialer" answers (its
    // database or options changed): answers remembered under an older value no longer count.
    std::uint64_t Epoch = 0;
};

class TGuardRegistry {
public:
    std::uint64_t Add(pid_t pid, uid_t uid, const std::string& socketPath,
                      std::shared_ptr<const TGuardFolder> folder = nullptr);
    void Remove(std::uint64_t id);
    void Forget(std::uint64_t id);
    std::vector<TGuardEntry> Snapshot() const;
    std::size_t Count() const;
    // Changes with every Add, Remove and Forget: a reader keeps its snapshot while this stays.
    std::uint64_t Version() const { return FVersion.load(std::memory_order_acquire); }

private:
    mutable std::mutex FMutex;
    std::atomic<std::uint64_t> FVersion{0};
    std::vector<TGuardEntry> FGuards;
    std::uint64_t FNextId = 1;
};

// Checks that path is a socket owned by uid, so that a registration cannot point the service (which
// connects as root) at another user's or a system service's socket. Fills why on refusal.
bool IsOwnedSocket(const std::string& path, uid_t uid, std::string* why);

// Connects (non-blocking) to the socket at path when it is a socket owned by uid; -1 with why
// otherwise. The file is opened once (O_PATH, no symlinks) and both checked and connected to through
// that descriptor, so the path cannot be swapped for another socket between the check and the
// connect. afterCheck runs in that window (tests swap the path there).
int ConnectOwnedSocket(const std::string& path, uid_t uid, std::string* why,
                       const std::function<void()>& afterCheck = {});
// The same for the socket called name in an open folder: looked up without following symbolic
// links and without crossing into another mount.
int ConnectOwnedSocketAt(int folder, const std::string& name, uid_t uid, std::string* why);

// Connections to guards that answered and may carry the next question, so that a busy machine does
// not pay a connect and an accept per program start. Used by one thread.
class TGuardConnectionPool {
public:
    ~TGuardConnectionPool();
    // An idle connection to the guard that is still open, or -1.
    int Take(std::uint64_t guardId);
    void Give(std::uint64_t guardId, int fd);
    // Closes the connections of guards that are no longer registered.
    void Keep(const std::vector<TGuardEntry>& guards);

private:
    std::map<std::uint64_t, std::vector<int>> FIdle;
};

struct TGuardVerdict {
    int Asked = 0;
    int Answered = 0;
    bool Refused = false;                 // some guard answered non-zero
    bool TimedOut = false;                // the bound ran out with guards still deciding
    std::vector<std::uint64_t> AllowedBy; // the guards that answered 0
    std::string Detail;                   // the failures, for the log
};

// Sends one frame to every given guard at once and collects their answers; done runs once, on the
// loop's thread, when all have answered or failed or the bound ran out. Destroying the query
// before that cancels it without calling done.
class TGuardQuery {
public:
    TGuardQuery(TPollLoop& loop, const std::vector<TGuardEntry>& guards, std::uint32_t dwData,
                const std::vector<std::uint8_t>& payload, int boundMs,
                std::function<void(const TGuardVerdict&)> done, TGuardConnectionPool* pool = nullptr);
    ~TGuardQuery();
    TGuardQuery(const TGuardQuery&) = delete;
    TGuardQuery& operator=(const TGuardQuery&) = delete;

private:
    struct TCall {
        int Fd = -1;
        std::vector<std::uint8_t> Out;
        std::size_t Sent = 0;
        std::uint8_t In[4] = {};
        std::size_t Received = 0;
        std::string Path;
        std::uint64_t GuardId = 0;
    };
    void OnReady(TCall& call, short revents);
    void Finish(TCall& call, const std::string& failure);
    void CheckDone();

    TPollLoop& FLoop;
    TGuardConnectionPool* FPool;
    std::vector<std::unique_ptr<TCall>> FCalls;
    std::function<void(const TGuardVerdict&)> FDone;
    TGuardVerdict FVerdict;
    int FOpen = 0;
    std::uint64_t FTimer = 0;
    bool FFinished = false;
    bool FConstructing = false;
};

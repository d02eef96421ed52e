#include "uExecGuard.h"

#include "core/uHookRecords.h"
#include "uPollLoop.h"
#include "uProcInfo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Filesystems that hold no programs, or are not local.
const std::set<std::string> kSkippedTypes = {
    "proc",     "sysfs",     "devpts",     "cgroup",     "cgroup2", "securityfs", "debugfs",    "tracefs",
    "pstore",   "bpf",       "configfs",   "fusectl",    "mqueue",  "hugetlbfs",  "autofs",     "binfmt_misc",
    "efivarfs", "selinuxfs", "rpc_pipefs", "nfsd",       "nfs",     "nfs4",       "cifs",       "smb3",
    "ceph",     "9p",        "fuse",       "fuse.sshfs", "sshfs",   "afs",        "ramfs_none", "nsfs",
};

} // namespace

std::vector<TMountEntry> ExecCapableMounts(const std::string& mountinfo) {
    std::vector<TMountEntry> out;
    std::set<std::string> devices;
    std::istringstream in(mountinfo);
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        std::string id, parent, dev, root, point, options, word;
        if (!(f >> id >> parent >> dev >> root >> point >> options))
            continue;
        while (f >> word && word != "-") {
        }
        TMountEntry e;
        if (!(f >> e.FsType))
            continue;
        e.Device = dev;
        // Mount points escape blanks and the like as \ooo.
        for (std::size_t i = 0; i < point.size(); ++i) {
            if (point[i] == '\\' && i + 3 < point.size()) {
                e.MountPoint += static_cast<char>(std::stoi(point.substr(i + 1, 3), nullptr, 8));
                i += 3;
            } else {
                e.MountPoint += point[i];
            }
        }
        std::istringstream opts(options);
        for (std::string o; std::getline(opts, o, ',');)
            e.NoExec = e.NoExec || o == "noexec";
        bool fuseNet = e.FsType.rfind("fuse.", 0) == 0;
        if (e.NoExec || kSkippedTypes.count(e.FsType) || fuseNet || !devices.insert(dev).second)
            continue;
        out.push_back(e);
    }
    return out;
}

namespace {

// The file's first bytes hold the headers and, in practice, the interpreter's name: one read
// serves them all, and anything further out is read on its own.
struct THead {
    int Fd;
    char Bytes[4096];
    std::size_t Size = 0;
    bool Read(std::uint64_t offset, void* out, std::size_t size) const {
        if (offset <= Size && size <= Size - offset) { // no overflow with offsets from the file
            std::memcpy(out, Bytes + offset, size);
            return true;
        }
        return ::pread(Fd, out, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    }
};

template <typename TEhdr, typename TPhdr> std::string ReadInterpreter(const THead& head) {
    TEhdr eh{};
    if (!head.Read(0, &eh, sizeof(eh)) || eh.e_phentsize != sizeof(TPhdr) || eh.e_phnum > 256)
        return {};
    std::vector<TPhdr> table(eh.e_phnum);
    if (!head.Read(eh.e_phoff, table.data(), table.size() * sizeof(TPhdr)))
        return {};
    for (const TPhdr& ph : table) {
        if (ph.p_type != PT_INTERP)
            continue;
        if (ph.p_filesz == 0 || ph.p_filesz > 4096)
            return {};
        std::string path(ph.p_filesz, '\0');
        if (!head.Read(ph.p_offset, path.data(), path.size()))
            return {};
        return path.substr(0, path.find('\0'));
    }
    return {};
}

} // namespace

std::string ElfInterpreter(int fd) {
    auto head = std::make_unique<THead>();
    head->Fd = fd;
    const ssize_t n = ::pread(fd, head->Bytes, sizeof(head->Bytes), 0);
    if (n < EI_NIDENT || std::memcmp(head->Bytes, ELFMAG, SELFMAG) != 0)
        return {};
    head->Size = static_cast<std::size_t>(n);
    if (head->Bytes[EI_CLASS] == ELFCLASS64)
        return ReadInterpreter<Elf64_Ehdr, Elf64_Phdr>(*head);
    if (head->Bytes[EI_CLASS] == ELFCLASS32)
        return ReadInterpreter<Elf32_Ehdr, Elf32_Phdr>(*head);
    return {};
}

std::string GuardFirstWord(const std::string& commandLine) {
    std::size_t b = 0, e = commandLine.size();
    while (b < e && static_cast<unsigned char>(commandLine[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(commandLine[e - 1]) <= ' ')
        --e;
    const std::string text = commandLine.substr(b, e - b) + " ";
    if (text[0] == '"') {
        const std::size_t q = text.find('"', 1);
        return text.substr(1, q == std::string::npos ? std::string::npos : q - 1);
    }
    return text.substr(0, text.find(' '));
}

namespace {

TFileKey KeyOf(const struct stat& st) {
    TFileKey k;
    k.Dev = st.st_dev;
    k.Ino = st.st_ino;
    k.Size = st.st_size;
    k.MtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    k.CtimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return k;
}

std::int64_t RealNowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

constexpr std::size_t kMaxRemembered = 16384;
constexpr std::size_t kMaxReaders = 16;

} // namespace

// What a start's notice needs from the starting process: read on a reader thread, because reading
// another process's memory can wait on anything that backs it.
struct TExecGuard::TDetails {
    std::string CommandLine;
    std::string CurrentDirectory;
    // The guard takes the command line's first word for the program when such a file exists; an
    // answer remembered for the program file holds only when that word names no other file.
    bool FirstWordIsProgram = false;
};

struct TExecGuard::TPending {
    std::uint64_t Job = 0;
    int Fd = -1;
    pid_t Pid = 0;
    bool KeyKnown = false;
    TFileKey Key;
    std::vector<TGuardEntry> Guards; // those who may hear of it
    // Who answers the event: 0 nobody yet, 1 a reader (from remembered answers), 2 this loop. A
    // reader may answer only while the loop has not taken over.
    std::shared_ptr<std::atomic<int>> Claim = std::make_shared<std::atomic<int>>(0);
    bool Cacheable = false;
    std::uint64_t ReadTimer = 0;
    qm::TProgramStart Start;
    std::unique_ptr<TGuardQuery> Query;
};

// Threads that read the details of starts. A thread held by what it reads is left to finish on its
// own; new ones are made up to a limit, and past it a start is asked about without its details.
class TExecGuard::TReaders {
public:
    // What the loop runs after a job; a quiet one is run on the loop's next round, whenever that is.
    struct TResult {
        std::function<void()> Run;
        bool Quiet = false;
    };
    using TJob = std::function<TResult()>; // runs on a reader

    TReaders() : FShared(std::make_shared<TShared>()) {
        FShared->Wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    ~TReaders() {
        {
            std::lock_guard lock(FShared->Mutex);
            FShared->Stopping = true;
            FShared->Jobs.clear();
        }
        FShared->Ready.notify_all();
        // A reader still held somewhere keeps the shared state alive and ends when it is let go.
        for (std::thread& t : FThreads)
            t.detach();
    }
    int WakeFd() const { return FShared->Wake; }
    bool Submit(TJob job) {
        std::lock_guard lock(FShared->Mutex);
        if (FShared->Idle <= FShared->Jobs.size()) {
            if (FShared->Threads >= kMaxReaders)
                return false;
            ++FShared->Threads;
            FThreads.emplace_back([shared = FShared] { Work(shared); });
        }
        FShared->Jobs.push_back(std::move(job));
        FShared->Ready.notify_one();
        return true;
    }
    // Runs, on the calling (loop) thread, what the readers have finished.
    void Drain(bool woken = true) {
        std::uint64_t n;
        if (woken)
            (void)!::read(FShared->Wake, &n, sizeof(n));
        std::deque<std::function<void()>> done;
        if (FShared->DoneCount.load(std::memory_order_acquire) == 0)
            return; // the usual case between rounds: not worth the readers' lock
        {
            std::lock_guard lock(FShared->Mutex);
            done.swap(FShared->Done);
            FShared->DoneCount.store(0, std::memory_order_relaxed);
        }
        for (auto& f : done)
            f();
    }

private:
    struct TShared {
        std::mutex Mutex;
        std::condition_variable Ready;
        std::deque<TJob> Jobs;
        std::deque<std::function<void()>> Done;
        std::atomic<std::size_t> DoneCount{0};
        std::size_t Idle = 0, Threads = 0;
        bool Stopping = false;
        int Wake = -1;
        ~TShared() { ::close(Wake); }
    };
    static void Work(std::shared_ptr<TShared> shared) {
        std::unique_lock lock(shared->Mutex);
        for (;;) {
            ++shared->Idle;
            shared->Ready.wait(lock, [&] { return shared->Stopping || !shared->Jobs.empty(); });
            --shared->Idle;
            if (shared->Stopping)
                break;
            TJob job = std::move(shared->Jobs.front());
            shared->Jobs.pop_front();
            lock.unlock();
            TResult result = job();
            lock.lock();
            if (shared->Stopping)
                break;
            if (!result.Run)
                continue;
            shared->Done.push_back(std::move(result.Run));
            shared->DoneCount.fetch_add(1, std::memory_order_release);
            // What is only tidying waits for the loop's next round instead of waking it.
            if (!result.Quiet) {
                std::uint64_t one = 1;
                (void)!::write(shared->Wake, &one, sizeof(one));
            }
        }
        --shared->Threads;
    }
    std::shared_ptr<TShared> FShared;
    std::vector<std::thread> FThreads;
};

TExecGuard::TLoaderId TExecGuard::LoaderOf(int fd, const TFileKey& key) {
    // Nearly every program names the same loader: read each program's header and resolve each
    // loader's name once.
    if (auto it = FLoaders.find(key); it != FLoaders.end())
        return it->second;
    TLoaderId id;
    const std::string interpreter = ElfInterpreter(fd);
    if (!interpreter.empty()) {
        if (auto it = FRealLoaders.find(interpreter); it != FRealLoaders.end()) {
            id = it->second;
        } else {
            struct stat st {};
            // A loader that moved since only means that its open is asked about like any other start.
            if (::stat(interpreter.c_str(), &st) == 0)
                id = {st.st_dev, st.st_ino};
            if (FRealLoaders.size() > 64)
                FRealLoaders.clear();
            FRealLoaders[interpreter] = id;
        }
    }
    if (FLoaders.size() >= kMaxRemembered)
        FLoaders.clear();
    FLoaders[key] = id;
    return id;
}

TExecGuard::TExecGuard(TGuardRegistry& guards, std::function<void(const std::string&)> log)
    : FGuards(guards), FLog(std::move(log)) {}

TExecGuard::~TExecGuard() {
    Stop();
}

bool TExecGuard::Start(const TExecGuardSettings& settings, std::string* why) {
    if (Running())
        return true;
    FSettings = settings;
    if (FSettings.ServicePid == 0)
        FSettings.ServicePid = ::getpid();
    FBoundMs = settings.AnswerBoundMs;
    // Events name the thread that starts the program, so that its argv and its kernel stack are
    // the ones read (a thread other than the first may call execve).
    const unsigned flags =
        FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE | FAN_UNLIMITED_MARKS;
    FFanotify = ::fanotify_init(flags | FAN_REPORT_TID, O_RDONLY | O_LARGEFILE | O_CLOEXEC);
    FReportsThreads = FFanotify >= 0;
    if (FFanotify < 0)
        FFanotify = ::fanotify_init(flags, O_RDONLY | O_LARGEFILE | O_CLOEXEC);
    if (FFanotify < 0) {
        *why = std::string("fanotify: ") + std::strerror(errno);
        return false;
    }
    FWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    FAnswerLine = std::make_shared<TAnswerLine>();
    FAnswerLine->Fd = FFanotify;
    if (FSettings.Mounts.empty())
        FMountInfo = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    MarkMounts();
    FBeat = TPollLoop::NowMs();
    FThread = std::thread([this] { Run(); });
    return true;
}

void TExecGuard::MarkMounts() {
    std::vector<std::string> points = FSettings.Mounts;
    if (points.empty()) {
        std::string text;
        char buf[8192];
        ssize_t n;
        ::lseek(FMountInfo, 0, SEEK_SET);
        while ((n = ::read(FMountInfo, buf, sizeof(buf))) > 0)
            text.append(buf, static_cast<std::size_t>(n));
        for (const TMountEntry& e : ExecCapableMounts(text))
            points.push_back(e.MountPoint);
    }
    for (const std::string& p : points)
        if (::fanotify_mark(FFanotify, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, FAN_OPEN_EXEC_PERM, AT_FDCWD,
                            p.c_str()) != 0)
            FLog("cannot watch program starts on " + p + ": " + std::strerror(errno));
}

void TExecGuard::Stop() {
    if (!Running())
        return;
    std::uint64_t one = 1;
    (void)!::write(FWake, &one, sizeof(one));
    FThread.join();
    {
        // A reader that is late must not answer on a descriptor that is closed, or reused.
        std::lock_guard lock(FAnswerLine->Mutex);
        FAnswerLine->Fd = -1;
    }
    for (int* fd : {&FFanotify, &FWake, &FMountInfo}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void TExecGuard::Run() {
    // Every program start on the machine waits for this thread: let it run ahead of batch work.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -10);
    TPollLoop loop;
    FLoop = &loop;
    FReaders = std::make_unique<TReaders>();
    loop.Watch(FFanotify, POLLIN, [this](short) { OnEvents(); });
    loop.Watch(FWake, POLLIN, [&loop](short) { loop.Quit(); });
    loop.Watch(FReaders->WakeFd(), POLLIN, [this](short) { FReaders->Drain(); });
    if (FMountInfo >= 0)
        loop.Watch(FMountInfo, POLLPRI, [this](short) { MarkMounts(); });
    // The watchdog hears from this loop: a beat every second even when no program starts.
    std::function<void()> beat = [&] {
        FBeat = TPollLoop::NowMs();
        loop.After(1000, beat);
    };
    beat();
    while (!loop.Quitting()) {
        loop.RunOnce();
        FBeat.store(TPollLoop::NowMs(), std::memory_order_relaxed);
    }
    // Nothing may stay waiting on a service that stops.
    for (auto& [job, pending] : FPending) {
        pending->Query.reset();
        int open = 0;
        if (pending->Claim->compare_exchange_strong(open, 2) || open == 2) // not a reader's to answer
            Respond(pending->Fd, true);
    }
    FPending.clear();
    FReaders.reset();
    FPool.Keep({});
    FSlots.clear();
    FLoop = nullptr;
}

void TExecGuard::OnEvents() {
    FReaders->Drain(false); // starts the readers answered: their pending entries and timers go
    alignas(fanotify_event_metadata) char buf[8192];
    for (;;) {
        ssize_t len = ::read(FFanotify, buf, sizeof(buf));
        if (len < 0 && (errno == EMFILE || errno == ENFILE)) {
            // The kernel could not give us the event's descriptor and has refused that start. Free
            // what can be freed and go on with the rest of the queue; say so, once in a while.
            FPool.Keep({});
            const std::int64_t now = TPollLoop::NowMs();
            if (FLastFdShortage < 0 || now - FLastFdShortage > 10000) {
                FLastFdShortage = now;
                FLog(std::string("out of descriptors: a program start was refused by the kernel (") +
                     std::strerror(errno) + ", " + std::to_string(FPending.size()) + " starts pending)");
            }
            continue;
        }
        if (len <= 0)
            return;
        // A read takes every queued event that fits: room left over means the queue is empty now,
        // and the next event wakes the loop again.
        const bool drained = static_cast<std::size_t>(len) + FAN_EVENT_METADATA_LEN <= sizeof(buf);
        auto* m = reinterpret_cast<fanotify_event_metadata*>(buf);
        for (; FAN_EVENT_OK(m, len); m = FAN_EVENT_NEXT(m, len)) {
            if (m->vers != FANOTIFY_METADATA_VERSION) {
                if (m->fd >= 0)
                    Respond(m->fd, true);
                continue;
            }
            if (m->fd < 0)
                continue; // an overflow notice carries no event to answer
            if (!(m->mask & FAN_OPEN_EXEC_PERM)) {
                ::close(m->fd);
                continue;
            }
            FTaken = false;
            try {
                HandleEvent(m->fd, m->pid);
            } catch (...) {
                if (!FTaken)
                    Respond(m->fd, true);
            }
        }
        if (drained)
            return;
    }
}

void TExecGuard::RefreshGuards() {
    const std::uint64_t version = FGuards.Version();
    if (version == FGuardVersion)
        return;
    FGuardVersion = version;
    FGuardList = FGuards.Snapshot();
    FPool.Keep(FGuardList);
    // Answers of guards that are gone, or that asked us to forget, go.
    std::unordered_map<std::uint64_t, TGuardMemory> kept;
    for (const TGuardEntry& g : FGuardList) {
        auto it = FMemory.find(g.Id);
        if (it != FMemory.end() && it->second.Epoch == g.Epoch)
            kept[g.Id] = std::move(it->second);
        else
            kept[g.Id].Epoch = g.Epoch;
    }
    FMemory = std::move(kept);
}

void TExecGuard::HandleEvent(int fd, pid_t pid) {
    RefreshGuards();
    if (FGuardList.empty()) {
        FSlots.clear();
        Respond(fd, true); // nobody to ask: nothing to read about it
        return;
    }
    auto p = std::make_unique<TPending>();
    p->Fd = fd;
    p->Pid = pid;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        p->KeyKnown = true;
        p->Key = KeyOf(st);
    }
    // The loader of a program just allowed is opened by the same execve: that is not another start.
    // The slot is this task's, for that exec only: any other event of the task ends it, and a
    // loader opened as the program of a new execve (the earlier one failed) is asked about.
    if (auto it = FSlots.find(pid); it != FSlots.end()) {
        const bool loader =
            p->KeyKnown && it->second == TLoaderId{p->Key.Dev, p->Key.Ino} && IsOpeningElfLoader(pid);
        FSlots.erase(it);
        if (loader) {
            Respond(fd, true);
            return;
        }
    }
    const TProcessIds ids = ProcessParentAndUid(pid);
    const pid_t process = FReportsThreads ? ids.Process : pid;
    const bool known = ids.Uid != static_cast<uid_t>(-1);
    if (known && (process == FSettings.ServicePid || ids.Parent == FSettings.ServicePid)) {
        Respond(fd, true);
        return;
    }
    // A user's guard hears of that user's program starts only; root's guard hears of all. Otherwise
    // any user could register a guard and read, or stop, everyone's programs. A start whose user
    // cannot be read goes to every guard, never to none. A guard is not asked about its own starts
    // or its children's (it may be waiting for them), the other guards are.
    p->Guards = FGuardList;
    std::erase_if(p->Guards, [&](const TGuardEntry& g) {
        return (known && g.Uid != 0 && g.Uid != ids.Uid) || g.Pid == process || g.Pid == ids.Parent;
    });
    if (p->Guards.empty()) {
        Respond(fd, true);
        return;
    }
    // The task opens its loader next if this start is allowed; a refusal takes the slot back.
    if (p->KeyKnown) {
        if (const TLoaderId loader = LoaderOf(fd, p->Key); loader != TLoaderId{}) {
            if (FSlots.size() > 4096)
                FSlots.clear(); // only starts that never reached their loader are lost
            FSlots[pid] = loader;
        }
    }
    p->Job = FNextJob++;
    const std::uint64_t job = p->Job;
    TPending& pending = *p;
    FPending[job] = std::move(p);
    FTaken = true;
    if (!known) {
        OnDetails(job, TDetails{});
        return;
    }
    // Every guard that may hear of it remembers this file as no dialer: the start is answered from
    // that as soon as its first word is known to lead the guard to this file, by the reader itself.
    bool remembered = pending.KeyKnown;
    for (const TGuardEntry& g : pending.Guards) {
        auto it = FMemory.find(g.Id);
        remembered = remembered && it != FMemory.end() && it->second.Epoch == g.Epoch &&
                     it->second.NotDialers.count(pending.Key);
    }
    // The details are read on a reader thread, within the read bound; what a user holds there
    // holds only that user's notice, and only its details.
    std::vector<pid_t> guardPids;
    for (const TGuardEntry& g : pending.Guards)
        guardPids.push_back(g.Pid);
    const TFileKey key = pending.Key;
    const bool keyKnown = pending.KeyKnown;
    auto line = FAnswerLine;
    auto claim = pending.Claim;
    auto answered = &FAnswered;
    auto fromMemory = &FRemembered;
    const bool submitted = FReaders->Submit([this, job, fd, pid, key, keyKnown, guardPids, remembered, claim,
                                             line, answered, fromMemory]() -> TReaders::TResult {
        auto d = std::make_shared<TDetails>();
        d->CommandLine = PendingExecCommandLine(pid, "/proc", remembered ? 1 : 256);
        const std::string word = GuardFirstWord(d->CommandLine);
        // The guard looks the word up from its own folder: no such file, or the program itself.
        auto names = [&](const std::string& path) {
            struct stat st {};
            return ::stat(path.c_str(), &st) != 0 || (st.st_dev == key.Dev && st.st_ino == key.Ino);
        };
        d->FirstWordIsProgram = keyKnown;
        if (keyKnown && !word.empty() && word[0] == '/')
            d->FirstWordIsProgram = names(word);
        else if (keyKnown && !word.empty())
            for (pid_t g : guardPids)
                d->FirstWordIsProgram =
                    d->FirstWordIsProgram && names("/proc/" + std::to_string(g) + "/cwd/" + word);
        if (remembered && d->FirstWordIsProgram) {
            // Answered here, unless the loop took over or stopped: its read-bound timer tidies up.
            std::lock_guard lock(line->Mutex);
            int open = 0;
            if (line->Fd >= 0 && claim->compare_exchange_strong(open, 1)) {
                fanotify_response r{};
                r.fd = fd;
                r.response = FAN_ALLOW;
                while (::write(line->Fd, &r, sizeof(r)) < 0 && errno == EINTR) {
                }
                ::close(fd);
                ++*answered;
                ++*fromMemory;
                return {[this, job] { Finish(job, true, false); }, true};
            }
        }
        if (remembered)
            d->CommandLine = PendingExecCommandLine(pid); // the whole of it, to ask
        d->CurrentDirectory = ProcessCwd(pid);
        return {[this, job, d] {
            OnDetails(job, *d);
        }};
    });
    if (!submitted) {
        FLog("every reader is busy: a program start is asked about without its details");
        OnDetails(job, TDetails{});
        return;
    }
    pending.ReadTimer = FLoop->After(FSettings.ReadBoundMs, [this, job] {
        auto it = FPending.find(job);
        if (it == FPending.end())
            return;
        it->second->ReadTimer = 0;
        if (it->second->Claim->load() == 1) { // a reader answered it
            FPending.erase(it);
            return;
        }
        FLog("the details of the start of " + DescriptorPath(it->second->Fd) + " could not be read in time");
        OnDetails(job, TDetails{});
    });
}

void TExecGuard::OnDetails(std::uint64_t job, const TDetails& details) {
    auto found = FPending.find(job);
    if (found == FPending.end())
        return;
    TPending& p = *found->second;
    int open = 0;
    if (!p.Claim->compare_exchange_strong(open, 2)) {
        if (open == 1) // a reader answered it meanwhile
            Finish(job, true, false);
        return; // otherwise asked about already, without these details
    }
    if (p.ReadTimer) {
        FLoop->Cancel(p.ReadTimer);
        p.ReadTimer = 0;
    }
    p.Start.ApplicationName = DescriptorPath(p.Fd);
    p.Start.CommandLine = details.CommandLine;
    p.Start.CurrentDirectory = details.CurrentDirectory;
    p.Cacheable = details.FirstWordIsProgram;
    std::vector<TGuardEntry> ask;
    for (const TGuardEntry& g : p.Guards) {
        auto it = FMemory.find(g.Id);
        const bool remembered = p.Cacheable && it != FMemory.end() && it->second.Epoch == g.Epoch &&
                                it->second.NotDialers.count(p.Key);
        if (!remembered)
            ask.push_back(g);
    }
    if (ask.empty()) {
        ++FRemembered;
        Finish(job, true, true);
        return;
    }
    ++FAsked;
    p.Query = std::make_unique<TGuardQuery>(
        *FLoop, ask, qm::kHookProgramStart, qm::EncodeProgramStart(p.Start), FBoundMs.load(),
        [this, job](const TGuardVerdict& v) {
            TPending& asked = *FPending.at(job);
            const bool allow = !v.Refused;
            const std::string shown = asked.Start.ApplicationName;
            if (allow)
                Remember(asked, v.AllowedBy);
            Finish(job, allow, true); // destroys the query that called us; nothing of it is used after
            if (v.TimedOut)
                FLog("no answer about the start of " + shown + " in time: allowed");
            else if (!allow)
                FLog("start of " + shown + " refused by the guard");
        },
        &FPool);
}

void TExecGuard::Remember(const TPending& p, const std::vector<std::uint64_t>& allowedBy) {
    if (!p.Cacheable || p.Key.CtimeNs > RealNowNs() - std::int64_t{FSettings.SettleMs} * 1000000)
        return;
    RefreshGuards();
    for (std::uint64_t id : allowedBy) {
        auto asked =
            std::find_if(p.Guards.begin(), p.Guards.end(), [id](const TGuardEntry& g) { return g.Id == id; });
        auto memory = FMemory.find(id);
        // An answer given before the guard asked us to forget is not kept.
        if (asked == p.Guards.end() || memory == FMemory.end() || memory->second.Epoch != asked->Epoch)
            continue;
        if (memory->second.NotDialers.size() >= kMaxRemembered)
            memory->second.NotDialers.clear();
        memory->second.NotDialers.insert(p.Key);
    }
}

void TExecGuard::Finish(std::uint64_t job, bool allow, bool respond) {
    auto it = FPending.find(job);
    if (it == FPending.end())
        return;
    std::unique_ptr<TPending> p = std::move(it->second);
    FPending.erase(it);
    if (p->ReadTimer)
        FLoop->Cancel(p->ReadTimer);
    if (!allow)
        FSlots.erase(p->Pid);
    if (respond)
        Respond(p->Fd, allow);
    // The query may be the caller: it goes with p, and the caller touches nothing of it after.
}

void TExecGuard::Respond(int fd, bool allow) {
    fanotify_response r{};
    r.fd = fd;
    r.response = allow ? FAN_ALLOW : FAN_DENY;
    while (::write(FFanotify, &r, sizeof(r)) < 0 && errno == EINTR) {
    }
    ::close(fd);
    ++FAnswered;
}

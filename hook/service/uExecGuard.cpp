#include "uExecGuard.h"

#include "core/uHookRecords.h"
#include "uPollLoop.h"
#include "uProcInfo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
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
constexpr std::size_t kMaxTakers = 16;

} // namespace

// What a start's notice needs from the starting process. Read within the read bound, because
// reading another process's memory, or walking a path it names, can wait on anything behind them.
struct TExecGuard::TDetails {
    std::string CommandLine;
    std::string CurrentDirectory;
    // The guard takes the command line's first word for the program when such a file exists; an
    // answer remembered for the program file holds only when that word names no other file.
    bool FirstWordIsProgram = false;
    // The loader the program names, when its name had to be looked up.
    bool LoaderFound = false;
    TLoaderId Loader;
};

// What is known of a start before its details are read.
struct TExecGuard::TEvent {
    int Fd = -1;
    pid_t Pid = 0;
    bool KeyKnown = false;
    TFileKey Key;
    bool UserKnown = false;
    std::vector<TGuardEntry> Guards; // those who may hear of it
    bool Remembered = false;         // each of them remembers the file as no dialer
    bool IdsRead = false;            // Guards is narrowed to those who may hear of it
    // The loader's name when it is not known yet: the program chooses it, so it is looked up
    // within the read bound like the details.
    std::string Interpreter;
};

struct TExecGuard::TPending {
    std::uint64_t Job = 0;
    int Fd = -1;
    pid_t Pid = 0;
    bool KeyKnown = false;
    TFileKey Key;
    std::vector<TGuardEntry> Guards; // those who may hear of it
    bool Cacheable = false;
    qm::TProgramStart Start;
    std::unique_ptr<TGuardQuery> Query;
};

// What the takers share with the loop. A taker that its event holds may outlive the service: once
// let go it touches nothing but this and itself.
struct TExecGuard::TMailbox {
    std::mutex Mutex;
    std::deque<std::function<void()>> Done; // run on the loop
    std::atomic<std::size_t> DoneCount{0};
    int Wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); // the loop's
    int Stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); // every taker's, set once
    std::atomic<bool> Stopping{false};
    ~TMailbox() {
        ::close(Wake);
        ::close(Stop);
    }
    void Post(std::function<void()> f) {
        {
            std::lock_guard lock(Mutex);
            Done.push_back(std::move(f));
            DoneCount.store(Done.size(), std::memory_order_release);
        }
        std::uint64_t one = 1;
        (void)!::write(Wake, &one, sizeof(one));
    }
    void Drain() {
        std::uint64_t n;
        (void)!::read(Wake, &n, sizeof(n));
        if (DoneCount.load(std::memory_order_acquire) == 0)
            return;
        std::deque<std::function<void()>> done;
        {
            std::lock_guard lock(Mutex);
            done.swap(Done);
            DoneCount.store(0, std::memory_order_relaxed);
        }
        for (auto& f : done)
            f();
    }
};

// A thread that reads the fanotify queue itself, one event at a time, and answers what it can: a
// remembered start costs one wake-up and no hand-over. While it reads a start's details its timer
// runs; when the read bound passes first, the loop takes the event over.
struct TExecGuard::TTaker {
    std::mutex Mutex;
    bool Busy = false; // reading Event's details, until Deadline
    int Claim = 0;     // 0: open; 1: the taker answers; 2: taken over (by the loop, or by Stop)
    bool Held = false; // taken over and not back yet
    std::int64_t Deadline = 0;
    const TEvent* Event = nullptr;
    int Poll = -1, Timer = -1;
    std::thread Thread;
    ~TTaker() {
        for (int fd : {Poll, Timer})
            if (fd >= 0)
                ::close(fd);
    }
};

namespace {
constexpr std::size_t kStartTakers = 2;
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
    FMailbox = std::make_shared<TMailbox>();
    FLoopReads = false;
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
    FMailbox->Stopping.store(true);
    std::uint64_t one = 1;
    (void)!::write(FMailbox->Stop, &one, sizeof(one));
    (void)!::write(FWake, &one, sizeof(one));
    FThread.join();
    // A taker still reading a start's details is let go and its start allowed; the others end. A
    // taker that is not reading only waits on nothing a user holds, so it is waited for.
    for (const std::shared_ptr<TTaker>& t : FTakers) {
        int stolen = -1;
        bool busy = false;
        {
            std::lock_guard lock(t->Mutex);
            busy = t->Busy;
            if (busy && t->Claim == 0) {
                t->Claim = 2;
                stolen = t->Event->Fd;
            }
        }
        if (stolen >= 0)
            Respond(stolen, true);
        if (busy)
            t->Thread.detach();
        else
            t->Thread.join();
    }
    FTakers.clear();
    FMailbox->Drain(); // what the takers handed over last is allowed: the loop is gone
    FMailbox.reset();
    {
        std::lock_guard lock(FStateMutex);
        FSlots.clear();
    }
    for (int* fd : {&FFanotify, &FWake, &FMountInfo}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void TExecGuard::Run() {
    // Every program start on the machine may wait for this thread: let it run ahead of batch work.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -10);
    TPollLoop loop;
    FLoop = &loop;
    loop.Watch(FWake, POLLIN, [&loop](short) { loop.Quit(); });
    loop.Watch(FMailbox->Wake, POLLIN, [this](short) { FMailbox->Drain(); });
    if (FMountInfo >= 0)
        loop.Watch(FMountInfo, POLLPRI, [this](short) { MarkMounts(); });
    while (FTakers.size() < kStartTakers) {
        const std::size_t before = FTakers.size();
        SpawnTaker();
        if (FTakers.size() == before)
            break;
    }
    CheckTakers();
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
        Respond(pending->Fd, true);
    }
    FPending.clear();
    FPool.Keep({});
    FLoop = nullptr;
}

void TExecGuard::SpawnTaker() {
    auto t = std::make_shared<TTaker>();
    t->Poll = ::epoll_create1(EPOLL_CLOEXEC);
    t->Timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    // Exclusive: an event wakes one idle taker, not all of them.
    epoll_event queue{};
    queue.events = EPOLLIN | EPOLLEXCLUSIVE;
    queue.data.fd = FFanotify;
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.fd = FMailbox->Stop;
    if (t->Poll < 0 || t->Timer < 0 || ::epoll_ctl(t->Poll, EPOLL_CTL_ADD, FFanotify, &queue) != 0 ||
        ::epoll_ctl(t->Poll, EPOLL_CTL_ADD, FMailbox->Stop, &stop) != 0) {
        FLog(std::string("cannot make a reader of program starts: ") + std::strerror(errno));
        return;
    }
    t->Thread = std::thread(&TExecGuard::TakerMain, this, FMailbox, t);
    TTaker* raw = t.get();
    FLoop->Watch(t->Timer, POLLIN, [this, raw](short) { OnTakerTimer(*raw); });
    FTakers.push_back(std::move(t));
}

void TExecGuard::CheckTakers() {
    if (!FLoop)
        return;
    auto countFree = [&] {
        std::size_t n = 0;
        for (const std::shared_ptr<TTaker>& t : FTakers) {
            std::lock_guard lock(t->Mutex);
            n += t->Held ? 0 : 1;
        }
        return n;
    };
    std::size_t free = countFree();
    if (free == 0 && FTakers.size() < kMaxTakers) {
        SpawnTaker();
        free = countFree();
    }
    const bool loopReads = free == 0;
    if (loopReads == FLoopReads)
        return;
    FLoopReads = loopReads;
    // Not watched otherwise: a poll on the queue, even for no events, is woken by every event.
    if (loopReads) {
        FLoop->Watch(FFanotify, POLLIN, [this](short) { OnEvents(); });
        FLog("every reader is busy: program starts are asked about without their details");
    } else {
        FLoop->Unwatch(FFanotify);
    }
}

void TExecGuard::OnTakerTimer(TTaker& t) {
    std::uint64_t n;
    (void)!::read(t.Timer, &n, sizeof(n));
    TEvent e;
    {
        std::lock_guard lock(t.Mutex);
        // The timer may have run out just as the taker finished, or for its previous event.
        if (!t.Busy || t.Claim != 0 || TPollLoop::NowMs() < t.Deadline)
            return;
        t.Claim = 2;
        t.Held = true;
        e = *t.Event;
    }
    e.Interpreter.clear(); // not looked up: its loader is asked about like any start
    FLog("the details of the start of " + DescriptorPath(e.Fd) + " could not be read in time");
    CheckTakers();
    AskAbout(std::move(e), TDetails{});
}

void TExecGuard::NoteFdShortage() {
    // The kernel could not give us an event's descriptor and has refused that start. Free what can
    // be freed; say so, once in a while.
    FPool.Keep({});
    const std::int64_t now = TPollLoop::NowMs();
    if (FLastFdShortage < 0 || now - FLastFdShortage > 10000) {
        FLastFdShortage = now;
        FLog("out of descriptors: a program start was refused by the kernel (" +
             std::to_string(FPending.size()) + " starts pending)");
    }
}

void TExecGuard::OnEvents() {
    alignas(fanotify_event_metadata) char buf[8192];
    for (;;) {
        ssize_t len = ::read(FFanotify, buf, sizeof(buf));
        if (len < 0 && (errno == EMFILE || errno == ENFILE)) {
            NoteFdShortage();
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
            TEvent e;
            e.Fd = m->fd;
            e.Pid = m->pid;
            const std::uint64_t jobs = FNextJob;
            try {
                // Every taker is held: nothing is read that a user could hold.
                if (Classify(e)) {
                    e.Interpreter.clear();
                    AskAbout(std::move(e), TDetails{});
                }
            } catch (...) {
                if (FNextJob == jobs) // not pending yet: nobody else answers it
                    Respond(m->fd, true);
            }
        }
        if (drained)
            return;
    }
}

void TExecGuard::TakerMain(std::shared_ptr<TMailbox> box, std::shared_ptr<TTaker> me) {
    // Every program start on the machine may wait for this thread: let it run ahead of batch work.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -10);
    for (;;) {
        epoll_event ready[2];
        const int n = ::epoll_wait(me->Poll, ready, 2, -1);
        if (box->Stopping.load())
            return;
        if (n <= 0)
            continue;
        // One event per read: a taker that its event holds holds no other.
        fanotify_event_metadata m{};
        const ssize_t len = ::read(FFanotify, &m, sizeof(m));
        if (len < 0 && (errno == EMFILE || errno == ENFILE)) {
            try {
                box->Post([this] { NoteFdShortage(); });
            } catch (...) {
                // Out of memory as well: the refusal goes unlogged.
            }
        }
        if (len < static_cast<ssize_t>(FAN_EVENT_METADATA_LEN))
            continue;
        if (m.vers != FANOTIFY_METADATA_VERSION) {
            if (m.fd >= 0)
                Respond(m.fd, true);
            continue;
        }
        if (m.fd < 0)
            continue; // an overflow notice carries no event to answer
        if (!(m.mask & FAN_OPEN_EXEC_PERM)) {
            ::close(m.fd);
            continue;
        }
        if (Take(*me, m.fd, m.pid) == TTaken::TakenOver) {
            // Let go: the service may have ended meanwhile, and only what is shared is touched.
            if (box->Stopping.load())
                return;
            try {
                box->Post([this] { CheckTakers(); });
            } catch (...) {
                // Out of memory: the loop counts its takers again at the next takeover.
            }
        }
    }
}

void TExecGuard::ReadDetails(const TEvent& e, TDetails& d) {
    d.CommandLine = PendingExecCommandLine(e.Pid, "/proc", e.Remembered ? 1 : 256);
    const std::string word = GuardFirstWord(d.CommandLine);
    // The guard looks the word up from its own folder: no such file, or the program itself.
    auto names = [&](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) != 0 || (st.st_dev == e.Key.Dev && st.st_ino == e.Key.Ino);
    };
    d.FirstWordIsProgram = e.KeyKnown;
    if (e.KeyKnown && !word.empty() && word[0] == '/')
        d.FirstWordIsProgram = names(word);
    else if (e.KeyKnown && !word.empty())
        for (const TGuardEntry& g : e.Guards)
            d.FirstWordIsProgram =
                d.FirstWordIsProgram && names("/proc/" + std::to_string(g.Pid) + "/cwd/" + word);
    if (!(e.Remembered && d.FirstWordIsProgram)) {
        if (e.Remembered)
            d.CommandLine = PendingExecCommandLine(e.Pid); // the whole of it, to ask
        d.CurrentDirectory = ProcessCwd(e.Pid);
    }
    if (!e.Interpreter.empty()) {
        // A loader that moved since only means that its open is asked about like any other start.
        struct stat st {};
        if (::stat(e.Interpreter.c_str(), &st) == 0)
            d.Loader = {st.st_dev, st.st_ino};
        d.LoaderFound = true;
    }
}

TExecGuard::TTaken TExecGuard::Take(TTaker& me, int fd, pid_t pid) {
    TEvent e;
    e.Fd = fd;
    e.Pid = pid;
    bool settled = false, published = false;
    try {
        if (!Classify(e))
            return TTaken::Answered;
        if (!e.UserKnown) { // nothing to read about it
            e.Interpreter.clear();
            Post([this, e] { AskAbout(e, TDetails{}); });
            return TTaken::HandedOver;
        }
        const int boundMs = std::max(1, FSettings.ReadBoundMs);
        {
            std::lock_guard lock(me.Mutex);
            if (FMailbox->Stopping.load()) {
                // Stop has looked at this taker, or is about to: it will not wait for a read.
                Respond(fd, true);
                return TTaken::Answered;
            }
            me.Busy = true;
            me.Claim = 0;
            me.Event = &e;
            me.Deadline = TPollLoop::NowMs() + boundMs;
            published = true;
        }
        itimerspec bound{};
        bound.it_value.tv_sec = boundMs / 1000;
        bound.it_value.tv_nsec = static_cast<long>(boundMs % 1000) * 1000000;
        ::timerfd_settime(me.Timer, 0, &bound, nullptr);
        // Until the claim below nothing of the service is touched: Stop may let this thread go, and
        // the service end, while it reads.
        TDetails d;
        ReadDetails(e, d);
        // Stopped after the answer, not before it: a timer that runs out meanwhile finds the taker
        // no longer busy, and one that ran out has stopped by itself.
        auto disarm = [&me] {
            const itimerspec off{};
            ::timerfd_settime(me.Timer, 0, &off, nullptr);
        };
        {
            std::lock_guard lock(me.Mutex);
            me.Busy = false;
            me.Event = nullptr;
            published = false;
            if (me.Claim != 0) {
                me.Held = false;
                return TTaken::TakenOver;
            }
            me.Claim = 1;
        }
        const bool answer = e.Remembered && d.FirstWordIsProgram;
        if (d.LoaderFound) {
            std::lock_guard lock(FStateMutex);
            if (FRealLoaders.size() > 64)
                FRealLoaders.clear();
            FRealLoaders[e.Interpreter] = d.Loader;
            if (FLoaders.size() >= kMaxRemembered)
                FLoaders.clear();
            FLoaders[e.Key] = d.Loader;
            // The task opens its loader next if this start is allowed; a refusal takes the slot back.
            if (d.Loader != TLoaderId{}) {
                if (FSlots.size() > 4096)
                    FSlots.clear(); // only starts that never reached their loader are lost
                FSlots[e.Pid] = d.Loader;
            }
        }
        if (answer) {
            settled = true;
            ++FRemembered;
            Respond(fd, true);
            disarm();
            return TTaken::Answered;
        }
        settled = !e.IdsRead && !ApplyIds(e); // the first word leads elsewhere: whose start is it?
        if (!settled) {
            e.Interpreter.clear();
            Post([this, e, d] { AskAbout(e, d); });
            settled = true; // not before: a hand-over that failed leaves it to be allowed below
        }
        disarm();
        return TTaken::HandedOver;
    } catch (...) {
        const itimerspec off{};
        ::timerfd_settime(me.Timer, 0, &off, nullptr);
        if (published) {
            std::lock_guard lock(me.Mutex);
            me.Busy = false;
            me.Event = nullptr;
            if (me.Claim != 0) {
                me.Held = false;
                return TTaken::TakenOver;
            }
            me.Claim = 1;
        }
        if (!settled)
            Respond(fd, true);
        return TTaken::Answered;
    }
}

void TExecGuard::Post(std::function<void()> f) {
    FMailbox->Post(std::move(f));
}

void TExecGuard::RefreshGuards() {
    const std::uint64_t version = FGuards.Version();
    if (version == FGuardVersion)
        return;
    FGuardVersion = version;
    FGuardList = FGuards.Snapshot();
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

void TExecGuard::ResolveLoader(TEvent& e) {
    // Nearly every program names the same loader: read each program's header and look each
    // loader's name up once.
    {
        std::lock_guard lock(FStateMutex);
        if (auto it = FLoaders.find(e.Key); it != FLoaders.end()) {
            e.Interpreter.clear();
            return;
        }
    }
    const std::string interpreter = ElfInterpreter(e.Fd); // the program's own file, on a local filesystem
    std::lock_guard lock(FStateMutex);
    if (FLoaders.size() >= kMaxRemembered)
        FLoaders.clear();
    if (interpreter.empty())
        FLoaders[e.Key] = TLoaderId{};
    else if (auto it = FRealLoaders.find(interpreter); it != FRealLoaders.end())
        FLoaders[e.Key] = it->second;
    else
        e.Interpreter = interpreter;
}

bool TExecGuard::Classify(TEvent& e) {
    std::unique_lock lock(FStateMutex);
    RefreshGuards();
    if (FGuardList.empty()) {
        FSlots.clear();
        lock.unlock();
        Respond(e.Fd, true); // nobody to ask: nothing to read about it
        return false;
    }
    lock.unlock();
    struct stat st {};
    if (::fstat(e.Fd, &st) == 0) {
        e.KeyKnown = true;
        e.Key = KeyOf(st);
    }
    // The loader of a program just allowed is opened by the same execve: that is not another start.
    // The slot is this task's, for that exec only: any other event of the task ends it, and a
    // loader opened as the program of a new execve (the earlier one failed) is asked about.
    bool loaderSlot = false;
    lock.lock();
    if (auto it = FSlots.find(e.Pid); it != FSlots.end()) {
        loaderSlot = e.KeyKnown && it->second == TLoaderId{e.Key.Dev, e.Key.Ino};
        FSlots.erase(it);
    }
    lock.unlock();
    if (loaderSlot && IsOpeningElfLoader(e.Pid)) {
        Respond(e.Fd, true);
        return false;
    }
    if (e.KeyKnown)
        ResolveLoader(e);
    lock.lock();
    // The task opens its loader next if this start is allowed; a refusal takes the slot back.
    if (e.KeyKnown && e.Interpreter.empty()) {
        if (auto it = FLoaders.find(e.Key); it != FLoaders.end() && it->second != TLoaderId{}) {
            if (FSlots.size() > 4096)
                FSlots.clear(); // only starts that never reached their loader are lost
            FSlots[e.Pid] = it->second;
        }
    }
    // When every registered guard remembers the file as no dialer, whoever may hear of the start
    // remembers it too, and so whose start it is changes nothing: its user is not read unless the
    // first word leads elsewhere.
    e.Guards = FGuardList;
    e.Remembered = e.KeyKnown && e.Pid > 0 && Remembers(e.Guards, e.Key);
    lock.unlock();
    if (e.Remembered) {
        e.UserKnown = true; // read if it comes to asking
        return true;
    }
    if (!ApplyIds(e))
        return false;
    lock.lock();
    e.Remembered = e.KeyKnown && Remembers(e.Guards, e.Key);
    return true;
}

bool TExecGuard::Remembers(const std::vector<TGuardEntry>& guards, const TFileKey& key) const {
    for (const TGuardEntry& g : guards) {
        auto it = FMemory.find(g.Id);
        if (it == FMemory.end() || it->second.Epoch != g.Epoch || !it->second.NotDialers.count(key))
            return false;
    }
    return true;
}

bool TExecGuard::ApplyIds(TEvent& e) {
    e.IdsRead = true;
    const TProcessIds ids = TaskIds(e.Pid);
    const pid_t process = FReportsThreads ? ids.Process : e.Pid;
    e.UserKnown = ids.Uid != static_cast<uid_t>(-1);
    if (e.UserKnown && (process == FSettings.ServicePid || ids.Parent == FSettings.ServicePid)) {
        Respond(e.Fd, true);
        return false;
    }
    // A user's guard hears of that user's program starts only; root's guard hears of all. Otherwise
    // any user could register a guard and read, or stop, everyone's programs. A start whose user
    // cannot be read goes to every guard, never to none. A guard is not asked about its own starts
    // or its children's (it may be waiting for them), the other guards are.
    std::erase_if(e.Guards, [&](const TGuardEntry& g) {
        return (e.UserKnown && g.Uid != 0 && g.Uid != ids.Uid) || g.Pid == process || g.Pid == ids.Parent;
    });
    if (e.Guards.empty()) {
        Respond(e.Fd, true);
        return false;
    }
    return true;
}

void TExecGuard::AskAbout(TEvent e, const TDetails& details) {
    if (!FLoop) {
        Respond(e.Fd, true); // the service stops: nothing may wait on it
        return;
    }
    if (!e.IdsRead && !ApplyIds(e))
        return;
    auto p = std::make_unique<TPending>();
    p->Job = FNextJob++;
    p->Fd = e.Fd;
    p->Pid = e.Pid;
    p->KeyKnown = e.KeyKnown;
    p->Key = e.Key;
    p->Guards = std::move(e.Guards);
    const std::uint64_t job = p->Job;
    FPending[job] = std::move(p);
    OnDetails(job, details);
}

void TExecGuard::OnDetails(std::uint64_t job, const TDetails& details) {
    auto found = FPending.find(job);
    if (found == FPending.end())
        return;
    TPending& p = *found->second;
    p.Start.ApplicationName = DescriptorPath(p.Fd);
    p.Start.CommandLine = details.CommandLine;
    p.Start.CurrentDirectory = details.CurrentDirectory;
    p.Cacheable = details.FirstWordIsProgram;
    std::vector<TGuardEntry> ask, registered;
    bool changed = false;
    {
        std::lock_guard lock(FStateMutex);
        RefreshGuards();
        if (FPoolVersion != FGuardVersion) {
            FPoolVersion = FGuardVersion;
            registered = FGuardList;
            changed = true;
        }
        for (const TGuardEntry& g : p.Guards) {
            auto it = FMemory.find(g.Id);
            const bool remembered = p.Cacheable && it != FMemory.end() && it->second.Epoch == g.Epoch &&
                                    it->second.NotDialers.count(p.Key);
            if (!remembered)
                ask.push_back(g);
        }
    }
    if (changed)
        FPool.Keep(registered); // connections of guards that are gone
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
    std::lock_guard lock(FStateMutex);
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
    if (!allow) {
        std::lock_guard lock(FStateMutex);
        FSlots.erase(p->Pid);
    }
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

#include "uExecGuard.h"

#include "core/uHookRecords.h"
#include "uPollLoop.h"
#include "uProcInfo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/resource.h>
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

std::string TExecGuard::RealLoaderPath(const std::string& interpreter) {
    // Nearly every program names the same loader: resolve its symbolic links once. A loader that
    // moved since only means that its open is asked about like any other start.
    if (interpreter.empty())
        return {};
    if (auto it = FRealLoaders.find(interpreter); it != FRealLoaders.end())
        return it->second;
    if (FRealLoaders.size() > 64)
        FRealLoaders.clear();
    char real[PATH_MAX];
    // The event names the file it opened by its real path, so compare with that.
    std::string resolved = ::realpath(interpreter.c_str(), real) ? std::string(real) : interpreter;
    FRealLoaders[interpreter] = resolved;
    return resolved;
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
    FFanotify = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE |
                                    FAN_UNLIMITED_MARKS,
                                O_RDONLY | O_LARGEFILE | O_CLOEXEC);
    if (FFanotify < 0) {
        *why = std::string("fanotify: ") + std::strerror(errno);
        return false;
    }
    FWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FSettings.Mounts.empty())
        FMountInfo = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    MarkMounts();
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
    loop.Watch(FFanotify, POLLIN, [this](short) { OnEvents(); });
    loop.Watch(FWake, POLLIN, [&loop](short) { loop.Quit(); });
    if (FMountInfo >= 0)
        loop.Watch(FMountInfo, POLLPRI, [this](short) { MarkMounts(); });
    loop.Run();
    // Nothing may stay waiting on a service that stops.
    for (auto& [fd, query] : FPending) {
        query.reset();
        Respond(fd, true);
    }
    FPending.clear();
    FPool.Keep({});
    FLoop = nullptr;
}

void TExecGuard::OnEvents() {
    alignas(fanotify_event_metadata) char buf[8192];
    for (;;) {
        ssize_t len = ::read(FFanotify, buf, sizeof(buf));
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
            try {
                HandleEvent(m->fd, m->pid);
            } catch (...) {
                if (!FPending.count(m->fd))
                    Respond(m->fd, true);
            }
        }
        if (drained)
            return;
    }
}

void TExecGuard::HandleEvent(int fd, pid_t pid) {
    std::vector<TGuardEntry> guards = FGuards.Snapshot();
    FPool.Keep(guards);
    if (guards.empty() && FInterpreters.empty()) {
        Respond(fd, true); // nobody to ask and no loader to recognise: nothing to read about it
        return;
    }
    std::string path = DescriptorPath(fd);
    // The loader of a program just allowed is opened by the same execve: that is not another start.
    if (auto it = FInterpreters.find(pid); it != FInterpreters.end()) {
        bool loader = it->second == path;
        FInterpreters.erase(it);
        if (loader) {
            Respond(fd, true);
            return;
        }
    }
    const TProcessIds ids = ProcessParentAndUid(pid);
    const pid_t parent = ids.Parent;
    if (pid == FSettings.ServicePid || parent == FSettings.ServicePid) {
        Respond(fd, true);
        return;
    }
    // A user's guard hears of that user's program starts only; root's guard hears of all. Otherwise
    // any user could register a guard and read, or stop, everyone's programs. A guard is not asked
    // about its own starts or its children's (it may be waiting for them), the other guards are.
    const uid_t owner = ids.Uid;
    std::erase_if(guards, [&](const TGuardEntry& g) {
        return (g.Uid != 0 && g.Uid != owner) || g.Pid == pid || g.Pid == parent;
    });
    if (guards.empty()) {
        Respond(fd, true);
        return;
    }
    qm::TProgramStart start;
    start.ApplicationName = path;
    start.CurrentDirectory = ProcessCwd(pid);
    std::string interpreter = RealLoaderPath(ElfInterpreter(fd));
    // Last: the starting process may not have gone to sleep on its event yet, and its pending
    // argv can only be read once it has.
    start.CommandLine = PendingExecCommandLine(pid);
    ++FAsked;
    std::string shown = start.ApplicationName;
    FPending[fd] = std::make_unique<TGuardQuery>(
        *FLoop, guards, qm::kHookProgramStart, qm::EncodeProgramStart(start), FBoundMs.load(),
        [this, fd, pid, shown, interpreter = std::move(interpreter)](const TGuardVerdict& v) {
            bool allow = !v.Refused;
            if (allow && !interpreter.empty()) {
                if (FInterpreters.size() > 4096)
                    FInterpreters.clear(); // only starts that never reached their loader are lost
                FInterpreters[pid] = interpreter;
            }
            Respond(fd, allow);
            FPending.erase(fd); // destroys the query that called us; nothing of it is used after
            if (v.TimedOut)
                FLog("no answer about the start of " + shown + " in time: allowed");
            else if (!allow)
                FLog("start of " + shown + " refused by the guard");
        },
        &FPool);
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

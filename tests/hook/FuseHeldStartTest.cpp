// A user's own FUSE filesystem holding the argv of a program start, against the real vardeld
// watching a tmpfs the test mounts. The filesystem is served here, from /dev/fuse without any
// library: its one file's reads are held until the test lets them go. Needs root; skipped without
// it or without FUSE.
#include "ServiceRig.h"
#include "StandInGuard.h"
#include "support/TempDir.h"

#include "core/uHookRecords.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fuse.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr uid_t kUser = 54321; // an ordinary user without an account: only its uid matters
constexpr std::uint64_t kFileNode = 2;
constexpr std::size_t kPage = 4096;
// The file's one page: what the held process passes as its argv[0].
constexpr char kHeldArg[] = "held-argv";

// A FUSE filesystem with one file "f" of one page. Its reads wait until Release(); the
// destructor aborts the connection, which fails whatever still waits on it, and unmounts.
class THeldFuseFile {
public:
    explicit THeldFuseFile(const std::string& dir) : FDir(dir) {
        std::filesystem::create_directories(FDir);
        FFd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (FFd < 0) {
            FWhy = std::string("/dev/fuse: ") + std::strerror(errno);
            return;
        }
        // allow_other: the file is opened by another user than the mount's owner.
        const std::string options =
            "fd=" + std::to_string(FFd) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
        if (::mount("qmtest", FDir.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            FWhy = std::string("mounting a FUSE filesystem: ") + std::strerror(errno);
            return;
        }
        FMounted = true;
        FWake = ::eventfd(0, EFD_CLOEXEC);
        FThread = std::thread([this] { Serve(); });
    }
    ~THeldFuseFile() {
        if (FMounted) {
            FStopping = true;
            ::umount2(FDir.c_str(), MNT_FORCE); // aborts the connection even while the file is in use
            Wake();
            FThread.join();
            ::umount2(FDir.c_str(), MNT_DETACH);
            ::close(FWake);
        }
        if (FFd >= 0)
            ::close(FFd);
    }
    bool Mounted() const { return FMounted; }
    const std::string& Why() const { return FWhy; }
    std::string File() const { return FDir + "/f"; }
    // Called in a forked child: a copy of the device held there would keep the connection alive.
    void CloseInChild() const { ::close(FFd); }
    std::size_t ReadsHeld() const {
        std::lock_guard lock(FMutex);
        return FHeld.size();
    }
    // Answers the held reads, and every later one at once.
    void Release() {
        FReleased = true;
        Wake();
    }

private:
    struct THeldRead {
        std::uint64_t Unique, Offset;
        std::uint32_t Size;
    };
    void Wake() {
        const std::uint64_t one = 1;
        (void)!::write(FWake, &one, sizeof(one));
    }
    void Reply(std::uint64_t unique, int error, const void* body = nullptr, std::size_t size = 0) {
        std::vector<char> out(sizeof(fuse_out_header) + size);
        fuse_out_header h{static_cast<std::uint32_t>(out.size()), -error, unique};
        std::memcpy(out.data(), &h, sizeof(h));
        if (size)
            std::memcpy(out.data() + sizeof(h), body, size);
        (void)!::write(FFd, out.data(), out.size());
    }
    void AnswerRead(const THeldRead& r) {
        char page[kPage] = {};
        std::memcpy(page, kHeldArg, sizeof(kHeldArg));
        const std::size_t from = std::min<std::uint64_t>(r.Offset, kPage);
        Reply(r.Unique, 0, page + from, std::min<std::size_t>(r.Size, kPage - from));
    }
    static fuse_attr Attr(std::uint64_t node) {
        fuse_attr a{};
        a.ino = node;
        a.nlink = node == kFileNode ? 1 : 2;
        a.mode = node == kFileNode ? S_IFREG | 0644 : S_IFDIR | 0755;
        a.size = node == kFileNode ? kPage : 0;
        a.blocks = a.size / 512;
        a.blksize = kPage;
        return a;
    }
    void Handle(const fuse_in_header& in, const char* body) {
        switch (in.opcode) {
        case FUSE_INIT: {
            const auto* init = reinterpret_cast<const fuse_init_in*>(body);
            fuse_init_out out{};
            out.major = FUSE_KERNEL_VERSION;
            out.minor = FUSE_KERNEL_MINOR_VERSION;
            out.max_readahead = init->max_readahead;
            out.max_background = 16;
            out.congestion_threshold = 12;
            out.max_write = kPage;
            out.time_gran = 1;
            return Reply(in.unique, 0, &out, sizeof(out));
        }
        case FUSE_LOOKUP: {
            if (in.nodeid != FUSE_ROOT_ID || std::strcmp(body, "f") != 0)
                return Reply(in.unique, ENOENT);
            fuse_entry_out out{};
            out.nodeid = kFileNode;
            out.generation = 1;
            out.entry_valid = out.attr_valid = 3600;
            out.attr = Attr(kFileNode);
            return Reply(in.unique, 0, &out, sizeof(out));
        }
        case FUSE_GETATTR: {
            fuse_attr_out out{};
            out.attr_valid = 3600;
            out.attr = Attr(in.nodeid);
            return Reply(in.unique, 0, &out, sizeof(out));
        }
        case FUSE_OPEN: {
            fuse_open_out out{};
            out.fh = 1;
            return Reply(in.unique, 0, &out, sizeof(out));
        }
        case FUSE_READ: {
            const auto* read = reinterpret_cast<const fuse_read_in*>(body);
            const THeldRead r{in.unique, read->offset, read->size};
            if (FReleased)
                return AnswerRead(r);
            std::lock_guard lock(FMutex);
            FHeld.push_back(r);
            return;
        }
        case FUSE_FLUSH:
        case FUSE_RELEASE:
        case FUSE_RELEASEDIR:
        case FUSE_ACCESS:
            return Reply(in.unique, 0);
        case FUSE_FORGET: // these take no answer
        case FUSE_BATCH_FORGET:
        case FUSE_INTERRUPT:
            return;
        default:
            return Reply(in.unique, ENOSYS);
        }
    }
    void Serve() {
        // Large enough for any request the kernel may send, whatever its largest write.
        std::vector<char> buf(FUSE_MIN_READ_BUFFER + (1u << 20));
        while (!FStopping) {
            pollfd p[2] = {{FFd, POLLIN, 0}, {FWake, POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR)
                return;
            if (p[1].revents & POLLIN) {
                std::uint64_t n;
                (void)!::read(FWake, &n, sizeof(n));
                std::vector<THeldRead> held;
                if (FReleased) {
                    std::lock_guard lock(FMutex);
                    held.swap(FHeld);
                }
                for (const THeldRead& r : held)
                    AnswerRead(r);
            }
            if (p[0].revents & (POLLERR | POLLHUP))
                return; // the connection was aborted
            if (!(p[0].revents & POLLIN))
                continue;
            const ssize_t got = ::read(FFd, buf.data(), buf.size());
            if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == ENOENT))
                continue; // ENOENT: a request taken back before it was read
            if (got < static_cast<ssize_t>(sizeof(fuse_in_header)))
                return;
            fuse_in_header in;
            std::memcpy(&in, buf.data(), sizeof(in));
            Handle(in, buf.data() + sizeof(in));
        }
    }

    std::string FDir, FWhy;
    int FFd = -1, FWake = -1;
    bool FMounted = false;
    std::atomic<bool> FStopping{false}, FReleased{false};
    mutable std::mutex FMutex;
    std::vector<THeldRead> FHeld;
    std::thread FThread;
};

// A tmpfs mounted for one test and unmounted whatever happens.
class TTmpfsMount {
public:
    explicit TTmpfsMount(const std::string& dir) : FDir(dir) {
        std::filesystem::create_directories(FDir);
        FMounted = ::mount("tmpfs", FDir.c_str(), "tmpfs", 0, "size=16m,mode=0755") == 0;
    }
    ~TTmpfsMount() {
        if (FMounted)
            ::umount2(FDir.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return FMounted; }
    // A program of its own per start, so that no answer about one is remembered for another.
    std::string Program(const std::string& name) const {
        const std::string path = FDir + "/" + name;
        std::filesystem::copy_file("/bin/true", path, std::filesystem::copy_options::skip_existing);
        return path;
    }
    const std::string& Dir() const { return FDir; }

private:
    std::string FDir;
    bool FMounted = false;
};

// Runs argv in a grandchild (not a child of the registered guard, this process, so it is asked
// about) and returns its exit code.
int StartAsGrandchild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        pid_t pid;
        if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
            ::_exit(90);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 91);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ends a process group at the end of the test, whatever happened.
struct TGroupEnd {
    pid_t Leader = -1;
    ~TGroupEnd() {
        if (Leader > 0) {
            ::kill(-Leader, SIGKILL);
            ::waitpid(Leader, nullptr, 0);
        }
    }
};

std::vector<qm::TProgramStart> Notices(const TStandInGuard& guard) {
    std::vector<qm::TProgramStart> out;
    for (const TStandInFrame& f : guard.Frames())
        if (f.DwData == qm::kHookProgramStart)
            out.push_back(qm::DecodeProgramStart(f.Payload));
    return out;
}

// How many descriptors the process holds of files under dir.
std::size_t DescriptorsUnder(pid_t pid, const std::string& dir) {
    std::size_t n = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        n += target.rfind(dir + "/", 0) == 0;
    }
    return n;
}

} // namespace

TEST(FuseHeldStart, ArgvHeldOnAUsersFuseFileDoesNotDelayAnotherUsersStart) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "program-start interception and mounting need root";
    TTempDir dir;
    // The ordinary user reaches the tmpfs and the FUSE file through the test's folder.
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::group_exec |
                                                 std::filesystem::perms::others_exec);
    TTmpfsMount tmpfs(dir.Path() + "/mnt");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string held = tmpfs.Program("held"), during = tmpfs.Program("during"),
                      after = tmpfs.Program("after");
    const std::string run = dir.Path() + "/run";
    TVardeld service(dir.Path(), run,
                     "exec_mounts = " + tmpfs.Dir() + "\nrun_dir = " + run + "\nlock_dir = " + dir.Path() +
                         "\nanswer_bound = 5\n");
    ASSERT_TRUE(service.Started()) << service.Log();
    // Root's guard hears of every user's starts; it allows them all.
    TStandInGuard guard(dir.Path() + "/root.sock", [](const TStandInFrame&) { return 0; });
    const int registration = RegisterGuard(run + "/control.sock", guard.Path());
    ASSERT_GE(registration, 0);

    TGroupEnd holder; // ended after the filesystem is gone, so that nothing of it can still wait
    THeldFuseFile fuse(dir.Path() + "/fuse");
    if (!fuse.Mounted()) {
        ::close(registration);
        GTEST_SKIP() << "no FUSE here: " << fuse.Why();
    }
    // The user maps the FUSE file without touching it and passes a pointer into it as argv[0]:
    // the service's read of that argv waits on the filesystem, which does not answer.
    const std::string file = fuse.File();
    holder.Leader = ::fork();
    if (holder.Leader == 0) {
        fuse.CloseInChild();
        ::setpgid(0, 0);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kUser, kUser, kUser) != 0 ||
            ::setresuid(kUser, kUser, kUser) != 0)
            ::_exit(90);
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        void* page = fd < 0 ? MAP_FAILED : ::mmap(nullptr, kPage, PROT_READ, MAP_SHARED, fd, 0);
        if (page == MAP_FAILED)
            ::_exit(91);
        const pid_t start = ::fork();
        if (start == 0) {
            char* argv[] = {static_cast<char*>(page), nullptr};
            ::syscall(SYS_execve, held.c_str(), argv, environ);
            ::_exit(92);
        }
        int status = 0;
        ::waitpid(start, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 93);
    }
    ASSERT_TRUE(WaitUntil([&] { return fuse.ReadsHeld() > 0; }))
        << "the service never read the held argv; " << service.Log();
    // Asked about without its argv once the read bound ran out.
    EXPECT_TRUE(WaitUntil([&] { return guard.FrameCount() == 1; })) << service.Log();

    // Root's start meanwhile: answered at once. The limit is generous (the service's read bound
    // is 100 ms): a stalled service would hold it until the filesystem answers.
    const auto begin = std::chrono::steady_clock::now();
    auto rootStart = std::async(std::launch::async, [&] { return StartAsGrandchild({during, "root"}); });
    const bool answered = rootStart.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_TRUE(answered) << "root's start waited on the user's filesystem";
    RecordProperty("root_start_ms",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

    // Let the filesystem answer: the held start goes on with its argv, and the service is whole.
    fuse.Release();
    EXPECT_EQ(rootStart.get(), 0);
    int status = -1;
    if (WaitUntil([&] { return ::waitpid(holder.Leader, &status, WNOHANG) == holder.Leader; }))
        holder.Leader = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto afterBegin = std::chrono::steady_clock::now();
    EXPECT_EQ(StartAsGrandchild({after, "next"}), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - afterBegin, std::chrono::seconds(2));

    const std::vector<qm::TProgramStart> n = Notices(guard);
    ASSERT_EQ(n.size(), 3u);
    EXPECT_EQ(n[0].ApplicationName, held);
    EXPECT_EQ(n[0].CommandLine, "");
    EXPECT_EQ(n[1].ApplicationName, during);
    EXPECT_EQ(n[1].CommandLine, during + " root");
    EXPECT_EQ(n[2].ApplicationName, after);
    EXPECT_EQ(n[2].CommandLine, after + " next"); // the readers are back to work
    EXPECT_NE(service.Log().find("could not be read in time"), std::string::npos);
    // Every start's descriptor was given back.
    EXPECT_TRUE(WaitUntil([&] { return DescriptorsUnder(service.Pid(), tmpfs.Dir()) == 0; }));
    EXPECT_TRUE(service.Running());
    ::close(registration);
    EXPECT_EQ(service.Stop(), 0);
}

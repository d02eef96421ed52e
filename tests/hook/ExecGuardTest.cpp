// Program-start interception on a tmpfs that the test mounts, so no other program of the machine is
// ever held. Needs root (fanotify permission events); skipped otherwise.
#include "ServiceRig.h"
#include "StandInGuard.h"
#include "support/TempDir.h"
#include "uExecGuard.h"

#include "core/uHookRecords.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>

#include <chrono>
#include <grp.h>
#include <linux/userfaultfd.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr pid_t kNoSuchGuardPid = 0x3ffffff0;
constexpr uid_t kUser = 54321; // an ordinary user without an account: only its uid matters

// Runs body in a child process and returns its exit code (the child's own failures are 90+).
int InChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Becomes the ordinary user for good, as su or setpriv do.
bool BecomeUser() {
    return ::setgroups(0, nullptr) == 0 && ::setresgid(kUser, kUser, kUser) == 0 &&
           ::setresuid(kUser, kUser, kUser) == 0;
}

// A tmpfs mounted for one test and unmounted whatever happens, with a small program on it.
class TTmpfsMount {
public:
    explicit TTmpfsMount(const std::string& dir) : FDir(dir + "/mnt") {
        std::filesystem::create_directories(FDir);
        FMounted = ::mount("tmpfs", FDir.c_str(), "tmpfs", 0, "size=16m,mode=0755") == 0;
        if (FMounted)
            std::filesystem::copy_file("/bin/true", Program());
    }
    ~TTmpfsMount() {
        if (FMounted)
            ::umount2(FDir.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return FMounted; }
    const std::string& Dir() const { return FDir; }
    std::string Program() const { return FDir + "/prog"; }

private:
    std::string FDir;
    bool FMounted = false;
};

// Spawns argv (in cwd when given; program instead of argv[0] when given) and returns its exit code,
// or -errno when the spawn itself failed.
int Exec(const std::vector<std::string>& argv, const std::string& cwd = {}, const std::string& program = {}) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    int rc =
        posix_spawn(&pid, program.empty() ? args[0] : program.c_str(), &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return -rc;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class ExecGuard : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "program-start interception needs root";
        Mount = std::make_unique<TTmpfsMount>(Dir.Path());
        if (!Mount->Mounted())
            GTEST_SKIP() << "cannot mount a tmpfs here";
        // The service's pid is a bystander, so the test's own children are asked about like anyone's.
        Bystander = ::fork();
        if (Bystander == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    void TearDown() override {
        Guard.reset(); // before the interception: nothing may wait on it any more
        Service.reset();
        if (Bystander > 0) {
            ::kill(Bystander, SIGKILL);
            ::waitpid(Bystander, nullptr, 0);
        }
    }
    void StartService(int boundMs = 60000, pid_t servicePid = 0) {
        Service = std::make_unique<TExecGuard>(Registry, [this](const std::string& t) {
            std::lock_guard lock(LogMutex);
            Log += t + "\n";
        });
        TExecGuardSettings s = Settings;
        s.AnswerBoundMs = boundMs;
        s.Mounts = {Mount->Dir()};
        s.ServicePid = servicePid ? servicePid : Bystander;
        std::string why;
        ASSERT_TRUE(Service->Start(s, &why)) << why;
    }
    void StartGuard(TStandInGuard::THandler handler) {
        Guard = std::make_unique<TStandInGuard>(Dir.Path() + "/hook.sock", std::move(handler));
        Registry.Add(kNoSuchGuardPid, ::getuid(), Guard->Path());
    }
    std::vector<qm::TProgramStart> Notices() {
        std::vector<qm::TProgramStart> out;
        for (const TStandInFrame& f : Guard->Frames())
            if (f.DwData == qm::kHookProgramStart)
                out.push_back(qm::DecodeProgramStart(f.Payload));
        return out;
    }
    // The service counts an event after its answer is written, so the count can trail the exec.
    std::uint64_t AnsweredAfter(std::uint64_t expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Service->EventsAnswered() < expected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Service->EventsAnswered();
    }
    std::string LogText() {
        std::lock_guard lock(LogMutex);
        return Log;
    }

    TTempDir Dir;
    std::unique_ptr<TTmpfsMount> Mount;
    TExecGuardSettings Settings;
    TGuardRegistry Registry;
    std::unique_ptr<TExecGuard> Service;
    std::unique_ptr<TStandInGuard> Guard;
    pid_t Bystander = -1;
    std::mutex LogMutex;
    std::string Log;
};

} // namespace

TEST_F(ExecGuard, AllowedStartCarriesItsFileArgumentsAndFolder) {
    StartService();
    StartGuard([](const TStandInFrame&) { return 0; });
    EXPECT_EQ(Exec({Mount->Program(), "arg1", "two words"}, "/usr"), 0);
    std::vector<qm::TProgramStart> n = Notices();
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].ApplicationName, Mount->Program());
    EXPECT_EQ(n[0].CommandLine, Mount->Program() + " arg1 \"two words\"");
    EXPECT_EQ(n[0].CurrentDirectory, "/usr");
    EXPECT_EQ(AnsweredAfter(1), 1u);
}

TEST_F(ExecGuard, RefusedStartFailsWithEpermAndAShellReports126) {
    StartService();
    StartGuard([](const TStandInFrame&) { return 1; });
    EXPECT_EQ(Exec({Mount->Program()}), -EPERM);
    EXPECT_EQ(Exec({"/bin/sh", "-c", Mount->Program() + " 2>/dev/null"}), 126);
    EXPECT_EQ(Notices().size(), 2u); // the shell itself lies outside the marked filesystem
    EXPECT_NE(LogText().find("refused by the guard"), std::string::npos);
}

TEST_F(ExecGuard, ScriptGivesANoticeForItselfAndForItsInterpreter) {
    std::ofstream(Mount->Dir() + "/script.sh") << "#!" << Mount->Program() << "\n";
    std::filesystem::permissions(Mount->Dir() + "/script.sh", std::filesystem::perms::owner_all);
    StartService();
    StartGuard([](const TStandInFrame&) { return 0; });
    EXPECT_EQ(Exec({Mount->Dir() + "/script.sh", "x"}), 0);
    std::vector<qm::TProgramStart> n = Notices();
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].ApplicationName, Mount->Dir() + "/script.sh");
    EXPECT_EQ(n[1].ApplicationName, Mount->Program());
    EXPECT_EQ(n[1].CommandLine, Mount->Dir() + "/script.sh x"); // the argv of the execve
}

TEST_F(ExecGuard, KilledGuardLetsItsPendingStartThroughAtOnce) {
    StartService(); // bound of a minute: only the guard's end may release the start
    // The guard is a process of its own that reads the notice and never answers.
    std::string path = Dir.Path() + "/dying.sock";
    int listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(listenFd, 4), 0);
    int got[2];
    ASSERT_EQ(::pipe2(got, O_CLOEXEC), 0);
    pid_t guard = ::fork();
    if (guard == 0) {
        int c = ::accept(listenFd, nullptr, nullptr);
        char buf[2048];
        if (::read(c, buf, sizeof(buf)) > 0)
            (void)!::write(got[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(listenFd);
    Registry.Add(guard, ::getuid(), path);
    auto exec = std::async(std::launch::async, [&] { return Exec({Mount->Program()}); });
    char c;
    ASSERT_EQ(::read(got[0], &c, 1), 1); // the notice is with the guard, the start waits
    EXPECT_EQ(exec.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    ::kill(guard, SIGKILL);
    ::waitpid(guard, nullptr, 0);
    ASSERT_EQ(exec.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(exec.get(), 0);
    ::close(got[0]);
    ::close(got[1]);
}

TEST_F(ExecGuard, ServiceProcessesNeverWaitOnTheGuard) {
    int helperGo[2];
    ASSERT_EQ(::pipe2(helperGo, O_CLOEXEC), 0);
    pid_t helper = ::fork();
    if (helper == 0) {
        char c;
        (void)!::read(helperGo[0], &c, 1);
        char* argv[] = {const_cast<char*>("prog"), nullptr};
        ::execv(Mount->Program().c_str(), argv);
        ::_exit(errno == EPERM ? 77 : 78);
    }
    StartService(60000, helper); // the helper stands for the service itself
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    StartGuard([released](const TStandInFrame&) {
        released.wait_for(std::chrono::seconds(30));
        return 1;
    });
    (void)!::write(helperGo[1], "g", 1);
    int status = -1;
    EXPECT_TRUE(WaitUntil([&] { return ::waitpid(helper, &status, WNOHANG) == helper; }, 5000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Guard->FrameCount(), 0u);
    release.set_value();
    ::close(helperGo[0]);
    ::close(helperGo[1]);
}

TEST_F(ExecGuard, BoundAndStopAllowWhatIsStillPending) {
    StartService(150);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    StartGuard([released](const TStandInFrame&) {
        released.wait_for(std::chrono::seconds(30));
        return 1;
    });
    EXPECT_EQ(Exec({Mount->Program()}), 0); // the bound ran out: allowed
    EXPECT_NE(LogText().find("in time: allowed"), std::string::npos);

    Service->SetAnswerBound(60000);
    auto exec = std::async(std::launch::async, [&] { return Exec({Mount->Program()}); });
    ASSERT_TRUE(WaitUntil([&] { return Guard->FrameCount() == 2; }));
    Service->Stop();
    ASSERT_EQ(exec.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(exec.get(), 0);
    EXPECT_EQ(AnsweredAfter(2), 2u); // each event exactly once
    release.set_value();
}

TEST_F(ExecGuard, ConnectionKeptFromARestartedGuardIsNotTakenForItsEnd) {
    StartService();
    StartGuard([](const TStandInFrame&) { return 0; });
    EXPECT_EQ(Exec({Mount->Program()}), 0); // leaves an idle connection to this guard
    Guard.reset();
    // The same registration, a new guard process behind the socket: it must be asked, not skipped.
    Guard =
        std::make_unique<TStandInGuard>(Dir.Path() + "/hook.sock", [](const TStandInFrame&) { return 1; });
    EXPECT_EQ(Exec({Mount->Program()}), -EPERM);
    EXPECT_EQ(Guard->FrameCount(), 1u);
}

TEST_F(ExecGuard, AUsersGuardHearsOnlyOfThatUsersStarts) {
    StartService();
    TStandInGuard other(Dir.Path() + "/other.sock", [](const TStandInFrame&) { return 1; });
    Registry.Add(kNoSuchGuardPid, 54321, other.Path()); // another user's guard
    EXPECT_EQ(Exec({Mount->Program()}), 0);             // root's start is none of its business
    EXPECT_EQ(other.FrameCount(), 0u);
    StartGuard([](const TStandInFrame&) { return 0; }); // root's own guard is asked
    EXPECT_EQ(Exec({Mount->Program()}), 0);
    EXPECT_EQ(Guard->FrameCount(), 1u);
}

TEST_F(ExecGuard, AGuardIsNotAskedAboutItsOwnChildrenButTheOthersAre) {
    StartService();
    TStandInGuard self(Dir.Path() + "/self.sock", [](const TStandInFrame&) { return 1; });
    Registry.Add(::getpid(), ::getuid(), self.Path());  // this process is a guard: its children start
    EXPECT_EQ(Exec({Mount->Program()}), 0);             // nobody else to ask: allowed
    StartGuard([](const TStandInFrame&) { return 1; }); // another guard
    EXPECT_EQ(Exec({Mount->Program()}), -EPERM);
    EXPECT_EQ(self.FrameCount(), 0u);
    EXPECT_EQ(Guard->FrameCount(), 1u);
}

TEST_F(ExecGuard, TheLoaderOfAnAllowedProgramIsNotAnotherStart) {
    // A copy of a program whose ELF loader lies on the marked tmpfs too, as on a fully watched machine.
    std::string loader = Mount->Dir() + "/l";
    const std::string original = "/lib64/ld-linux-x86-64.so.2";
    if (!std::filesystem::exists(original) || loader.size() > original.size())
        GTEST_SKIP() << "no x86-64 loader, or the tmpfs path is too long to patch in";
    std::filesystem::copy_file(std::filesystem::canonical(original), loader);
    std::ifstream in("/bin/true", std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), {});
    std::size_t at = image.find(original);
    ASSERT_NE(at, std::string::npos);
    image.replace(at, original.size(), loader + std::string(original.size() - loader.size(), '\0'));
    std::string program = Mount->Dir() + "/patched";
    std::ofstream(program, std::ios::binary) << image;
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);

    StartService();
    StartGuard([](const TStandInFrame&) { return 0; });
    EXPECT_EQ(Exec({program}), 0);
    std::vector<qm::TProgramStart> n = Notices();
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].ApplicationName, program);
    EXPECT_EQ(AnsweredAfter(2), 2u); // the program and its loader, each answered once
    // Running the loader by hand is a start like any other.
    EXPECT_EQ(Exec({loader, "--version"}), 0);
    EXPECT_EQ(Notices().size(), 2u);
}

TEST_F(ExecGuard, AUsersStartReachesThatUsersGuardWhoeverOwnsItsProcFiles) {
    // The user's guard listens on a socket of its own; the programs lie where that user can reach.
    std::filesystem::permissions(Dir.Path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::others_exec |
                                                 std::filesystem::perms::group_exec);
    StartService();
    TStandInGuard userGuard(Dir.Path() + "/user.sock", [](const TStandInFrame&) { return 0; });
    ASSERT_EQ(::chown(userGuard.Path().c_str(), kUser, kUser), 0);
    Registry.Add(kNoSuchGuardPid, kUser, userGuard.Path());
    const std::string prog = Mount->Program();
    struct TCase {
        const char* Name;
        std::function<int()> Start;
    } cases[] = {
        // After a switch of users the process is not dumpable: its /proc files stay root's.
        {"first program after a user switch",
         [&] {
             if (!BecomeUser())
                 return 90;
             char* argv[] = {const_cast<char*>("prog"), nullptr};
             ::execv(prog.c_str(), argv);
             return 91;
         }},
        {"a process that made itself not dumpable",
         [&] {
             if (!BecomeUser() || ::prctl(PR_SET_DUMPABLE, 1) != 0 || ::prctl(PR_SET_DUMPABLE, 0) != 0)
                 return 90;
             char* argv[] = {const_cast<char*>("prog"), nullptr};
             ::execv(prog.c_str(), argv);
             return 91;
         }},
        {"setpriv",
         [&] {
             const std::string uid = std::to_string(kUser);
             ::execl("/usr/bin/setpriv", "setpriv", ("--reuid=" + uid).c_str(), ("--regid=" + uid).c_str(),
                     "--clear-groups", prog.c_str(), static_cast<char*>(nullptr));
             return 92;
         }},
    };
    std::size_t expected = 0;
    for (const TCase& c : cases) {
        if (std::string(c.Name) == "setpriv" && ::access("/usr/bin/setpriv", X_OK) != 0)
            continue;
        EXPECT_EQ(InChild(c.Start), 0) << c.Name;
        EXPECT_EQ(userGuard.FrameCount(), ++expected) << c.Name;
    }
}

TEST_F(ExecGuard, ALoaderRunAfterAFailedExecIsAskedAbout) {
    // A program and its loader both on the marked tmpfs, as in the loader test above.
    std::string loader = Mount->Dir() + "/l";
    const std::string original = "/lib64/ld-linux-x86-64.so.2";
    if (!std::filesystem::exists(original) || loader.size() > original.size())
        GTEST_SKIP() << "no x86-64 loader, or the tmpfs path is too long to patch in";
    std::filesystem::copy_file(std::filesystem::canonical(original), loader);
    std::ifstream in("/bin/true", std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), {});
    std::size_t at = image.find(original);
    ASSERT_NE(at, std::string::npos);
    image.replace(at, original.size(), loader + std::string(original.size() - loader.size(), '\0'));
    const std::string program = Mount->Dir() + "/patched";
    std::ofstream(program, std::ios::binary) << image;
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);

    StartService();
    StartGuard([](const TStandInFrame&) { return 0; });
    // The allowed execve fails after its program was opened (its argv is no address), and the
    // same process then runs the loader as a program of its own.
    const int code = InChild([&] {
        const long failed = ::syscall(SYS_execve, program.c_str(), reinterpret_cast<char**>(8), nullptr);
        if (failed != -1 || errno != EFAULT)
            return 90;
        char* argv[] = {const_cast<char*>(loader.c_str()), const_cast<char*>("--version"), nullptr};
        ::execv(loader.c_str(), argv);
        return 91;
    });
    EXPECT_EQ(code, 0);
    std::vector<qm::TProgramStart> n = Notices();
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].ApplicationName, program);
    EXPECT_EQ(n[1].ApplicationName, loader);
    EXPECT_EQ(n[1].CommandLine, loader + " --version");
}

// Starts prog with its argv in memory that nobody ever fills (a userfaultfd region with no one
// serving it): reading it waits for good, like argv on a FUSE file its user holds. -1 when this
// machine has no userfaultfd for us.
pid_t StartHeld(const std::string& prog) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const pid_t held = ::fork();
    if (held == 0) {
        const int uffd = static_cast<int>(::syscall(SYS_userfaultfd, O_CLOEXEC));
        uffdio_api api{UFFD_API, 0, 0};
        void* page = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        uffdio_register reg{{reinterpret_cast<std::uint64_t>(page), 4096}, UFFDIO_REGISTER_MODE_MISSING, 0};
        const bool armed =
            uffd >= 0 && ::ioctl(uffd, UFFDIO_API, &api) == 0 && ::ioctl(uffd, UFFDIO_REGISTER, &reg) == 0;
        (void)!::write(ready[1], armed ? "y" : "n", 1);
        if (!armed)
            ::_exit(90);
        char* argv[] = {static_cast<char*>(page), nullptr};
        ::execv(prog.c_str(), argv);
        ::_exit(91);
    }
    char armed = 'n';
    (void)!::read(ready[0], &armed, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    if (armed != 'y') {
        ::kill(held, SIGKILL);
        ::waitpid(held, nullptr, 0);
        return -1;
    }
    return held;
}

TEST_F(ExecGuard, AStartWhoseMemoryIsHeldDoesNotHoldAnotherStart) {
    Settings.ReadBoundMs = 100;
    StartService(5000);
    StartGuard([](const TStandInFrame&) { return 0; });
    const std::string prog = Mount->Program();
    const pid_t held = StartHeld(prog);
    if (held < 0)
        GTEST_SKIP() << "no userfaultfd here";
    ASSERT_TRUE(WaitUntil([&] { return Guard->FrameCount() == 1; })); // asked without its argv
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exec({prog, "free"}), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    ::kill(held, SIGKILL);
    ::waitpid(held, nullptr, 0);
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    std::vector<qm::TProgramStart> n = Notices();
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].CommandLine, "");
    EXPECT_EQ(n[1].CommandLine, prog + " free");
    EXPECT_NE(LogText().find("could not be read in time"), std::string::npos);
}

TEST_F(ExecGuard, WithEveryReaderHeldStartsAreStillAnsweredAndReadersComeBack) {
    // More held starts than the service makes readers: the rest of the machine's starts are asked
    // about without their details, in time; once the held ones end, details are read again.
    Settings.ReadBoundMs = 50;
    StartService(5000);
    StartGuard([](const TStandInFrame&) { return 0; });
    const std::string prog = Mount->Program();
    std::vector<pid_t> held;
    for (int i = 0; i < 17; ++i) {
        const pid_t p = StartHeld(prog);
        if (p < 0)
            break;
        held.push_back(p);
    }
    auto release = [&] {
        for (pid_t p : held) {
            ::kill(p, SIGKILL);
            ::waitpid(p, nullptr, 0);
        }
        held.clear();
    };
    if (held.size() < 17) {
        release();
        GTEST_SKIP() << "no userfaultfd here";
    }
    EXPECT_TRUE(WaitUntil([&] { return Guard->FrameCount() == 17; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exec({prog, "busy"}), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_NE(LogText().find("every reader is busy"), std::string::npos);
    release();
    // The held readers are let go with their processes; the next start is read in full.
    EXPECT_TRUE(WaitUntil([&] {
        EXPECT_EQ(Exec({prog, "back"}), 0);
        const std::vector<qm::TProgramStart> n = Notices();
        return !n.empty() && n.back().CommandLine == prog + " back";
    }));
    std::size_t withoutArgs = 0;
    for (const qm::TProgramStart& n : Notices())
        withoutArgs += n.CommandLine.empty() ? 1 : 0;
    EXPECT_GE(withoutArgs, 18u); // the held ones and the start made while all readers were held
}

TEST_F(ExecGuard, RememberedAnswersGiveWhatAskingWouldGive) {
    Settings.SettleMs = 0;
    StartService();
    std::atomic<int> answer{0};
    StartGuard([&](const TStandInFrame&) { return answer.load(); });
    const std::uint64_t guardId = Registry.Snapshot().back().Id;
    const std::string prog = Mount->Program(), other = Mount->Dir() + "/other";
    std::filesystem::copy_file("/bin/true", other);
    struct TStep {
        const char* What;
        std::function<void()> Before;
        std::vector<std::string> Argv; // the program is prog
        int Code;
        std::size_t Asked; // notices the guard has had after the step
    } steps[] = {
        {"first start", {}, {prog}, 0, 1},
        {"again: remembered", {}, {prog, "x"}, 0, 1},
        {"a bare first word that names no file in the guard's folder", {}, {"prog-by-name"}, 0, 1},
        {"the first word names another file", {}, {other}, 0, 2}, // the guard would look at that one
        {"after FORGET", [&] { Registry.Forget(guardId); }, {prog}, 0, 3},
        {"remembered again", {}, {prog}, 0, 3},
        {"the file changed", [&] { std::ofstream(prog, std::ios::app) << '\0'; }, {prog}, 0, 4},
        {"the guard now refuses, after FORGET",
         [&] {
             answer = 1;
             Registry.Forget(guardId);
         },
         {prog},
         -EPERM,
         5},
        {"a refusal is never remembered", {}, {prog}, -EPERM, 6},
    };
    for (const TStep& s : steps) {
        if (s.Before)
            s.Before();
        EXPECT_EQ(Exec(s.Argv, {}, prog), s.Code) << s.What;
        EXPECT_EQ(Guard->FrameCount(), s.Asked) << s.What;
    }
}

TEST_F(ExecGuard, IdleControlConnectionsOfOneUserLeaveRootsStartsAnswered) {
    // The real service, watching this test's tmpfs only; an ordinary user floods its control socket.
    std::filesystem::permissions(Dir.Path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::others_exec |
                                                 std::filesystem::perms::group_exec);
    const std::string run = Dir.Path() + "/run";
    TVardeld service(Dir.Path(), run,
                     "exec_mounts = " + Mount->Dir() + "\nrun_dir = " + run + "\nlock_dir = " + Dir.Path() +
                         "\nanswer_bound = 5\n");
    ASSERT_TRUE(service.Started()) << service.Log();
    int ready[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    const pid_t flood = ::fork();
    if (flood == 0) {
        rlimit rl{4096, 4096};
        ::setrlimit(RLIMIT_NOFILE, &rl);
        if (!BecomeUser())
            ::_exit(90);
        int made = 0;
        for (int i = 0; i < 2000; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strncpy(addr.sun_path, (run + "/control.sock").c_str(), sizeof(addr.sun_path) - 1);
            // A full backlog answers EAGAIN: the service is busy refusing; try that one again.
            for (int tries = 0; tries < 1000; ++tries) {
                if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
                    ++made;
                    break;
                }
                if (errno != EAGAIN)
                    break;
                ::usleep(1000);
            }
        }
        (void)!::write(ready[1], made == 2000 ? "y" : "n", 1);
        ::pause();
        ::_exit(0);
    }
    char c = 'n';
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(c, 'y');
    // Root's guard still registers, and root's start is asked about and answered at once.
    TStandInGuard rootGuard(Dir.Path() + "/root.sock", [](const TStandInFrame&) { return 0; });
    const int registration = RegisterGuard(run + "/control.sock", rootGuard.Path());
    EXPECT_GE(registration, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InChild([&] { return Exec({Mount->Program()}); }), 0); // a grandchild: not the guard's own
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(rootGuard.FrameCount(), 1u);
    // The service holds few descriptors whatever the flood.
    std::size_t open = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(service.Pid()) + "/fd");
         it != std::filesystem::directory_iterator(); ++it)
        ++open;
    EXPECT_LT(open, 100u);
    EXPECT_NE(service.Log().find("too many connections"), std::string::npos);
    ::kill(flood, SIGKILL);
    ::waitpid(flood, nullptr, 0);
    if (registration >= 0)
        ::close(registration);
    EXPECT_EQ(service.Stop(), 0);
}

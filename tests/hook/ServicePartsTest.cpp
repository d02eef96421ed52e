#include "ServiceRig.h"
#include "support/TempDir.h"
#include "uExecGuard.h"
#include "uGuardRegistry.h"
#include "uPeersLookup.h"
#include "uPollLoop.h"
#include "uProcInfo.h"
#include "uSdNotify.h"
#include "uServiceConfig.h"
#include "uServiceSockets.h"
#include "uUucpLock.h"

#include "platform/linux/uLineFeedProtocol.h"
#include "util/uQmError.h"

#include <atomic>
#include <chrono>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

TEST(ServiceConfig, ParsesEveryKeyAndRejectsBadLinesWithTheirNumber) {
    TServiceConfig c = ParseServiceConfig("# modems\n"
                                          "modem = /dev/ttyS0 /dev/ttyGuard0\n"
                                          "modem=/dev/ttyACM0   /dev/ttyGuard1  # second\n"
                                          "answer_bound = 30\nno_guard = allow\nexec_guard = no\n"
                                          "exec_mounts = /home /opt\nrun_dir = /tmp/r\n",
                                          "x.conf");
    ASSERT_EQ(c.Modems.size(), 2u);
    EXPECT_EQ(c.Modems[1].Link, "/dev/ttyGuard1");
    EXPECT_EQ(c.AnswerBoundSeconds, 30);
    EXPECT_TRUE(c.NoGuardAllowsDial);
    EXPECT_FALSE(c.ExecGuard);
    EXPECT_EQ(c.ExecMounts, std::vector<std::string>({"/home", "/opt"}));
    EXPECT_EQ(c.ControlSocket(), "/tmp/r/control.sock");

    // Blanks and controls an editor may leave around a value are no part of it.
    TServiceConfig v = ParseServiceConfig(
        "run_dir = /tmp/r\v\nlock_dir =\f/tmp/l/ \x7f\nmodem = /dev/a\v/dev/g\n", "v.conf");
    EXPECT_EQ(v.RunDir, "/tmp/r");
    EXPECT_EQ(v.LockDir, "/tmp/l");
    EXPECT_EQ(v.Modems.at(0), (TGuardedModem{"/dev/a", "/dev/g"}));

    TServiceConfig d = ParseServiceConfig("", "empty.conf");
    EXPECT_EQ(d.AnswerBoundSeconds, 600);
    EXPECT_FALSE(d.NoGuardAllowsDial);
    EXPECT_TRUE(d.ExecGuard);

    struct TCase {
        const char* Text;
        const char* Error;
    } bad[] = {
        {"modem = /dev/ttyS0\n", "x.conf:1:"},
        {"\nmodem = ttyS0 /dev/g\n", "x.conf:2:"},
        {"modem = /dev/a /dev/g\nmodem = /dev/a /dev/h\n", "x.conf:2:"},
        {"answer_bound = 0\n", "x.conf:1:"},
        {"answer_bound = 10s\n", "x.conf:1:"},
        {"no_guard = maybe\n", "x.conf:1:"},
        {"colour = red\n", "x.conf:1:"},
        {"just words\n", "x.conf:1:"},
        // The service renames over a link: another modem's device must never be one.
        {"modem = /dev/a /dev/g\nmodem = /dev/g /dev/h\n", "x.conf:2:"},
        {"modem = /dev/a /dev/g\nmodem = /dev/b /dev//a\n", "x.conf:2:"},
        {"modem = /dev/a /dev/./a\n", "x.conf:1:"},
    };
    for (const TCase& b : bad) {
        try {
            ParseServiceConfig(b.Text, "x.conf");
            ADD_FAILURE() << b.Text;
        } catch (const EQmError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(b.Error, 0), 0u) << e.what();
        }
    }
}

TEST(UucpLock, TakesFreeAndStaleLocksButNotLiveOnes) {
    TTempDir dir;
    EXPECT_EQ(TUucpLock::LockName("/dev/ttyS0"), "LCK..ttyS0");
    EXPECT_EQ(TUucpLock::LockName("/dev/serial/by-id/x"), "LCK..serial_by-id_x");
    std::string error;
    {
        TUucpLock lock(dir.Path(), "/dev/ttyS0");
        ASSERT_TRUE(lock.Acquire(&error)) << error;
        std::ifstream in(lock.Path());
        std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(text.size(), 11u);
        EXPECT_EQ(TUucpLock::ParseOwner(text), ::getpid());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/LCK..ttyS0")); // released with the object

    // A lock of a live process (our parent stands in) is respected; a dead owner's is taken over.
    pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    struct TCase {
        pid_t Owner;
        bool Taken;
    } cases[] = {{::getppid(), false}, {dead, true}, {0, true}};
    for (const TCase& c : cases) {
        std::ofstream(dir.Path() + "/LCK..ttyS1")
            << std::string(c.Owner ? std::to_string(c.Owner) : "junk") << "\n";
        TUucpLock lock(dir.Path(), "/dev/ttyS1");
        EXPECT_EQ(lock.Acquire(&error), c.Taken) << c.Owner;
        if (!c.Taken) {
            EXPECT_NE(error.find(std::to_string(c.Owner)), std::string::npos);
        }
    }
}

TEST(ExecMounts, MarksExecCapableLocalFilesystemsOncePerDevice) {
    const std::string info = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                             "23 22 0:5 / /proc rw,nosuid,nodev,noexec - proc proc rw\n"
                             "24 22 0:20 / /dev/shm rw,nosuid,nodev,noexec - tmpfs tmpfs rw\n"
                             "25 22 0:21 / /tmp rw,nosuid,nodev - tmpfs tmpfs rw\n"
                             "26 22 8:1 /home /home rw - ext4 /dev/sda1 rw\n"
                             "27 22 0:40 / /mnt/net rw - nfs4 srv:/x rw\n"
                             "28 22 0:41 / /mnt/my\\040disk rw - fuseblk /dev/sdb1 rw\n"
                             "29 22 0:42 / /mnt/ssh rw - fuse.sshfs me@h: rw\n";
    std::vector<std::string> points;
    for (const TMountEntry& e : ExecCapableMounts(info))
        points.push_back(e.MountPoint);
    EXPECT_EQ(points, std::vector<std::string>({"/", "/tmp", "/mnt/my disk"}));
}

TEST(PeersLookup, NamesTheOnlyEntryThatDialsTheNumber) {
    TTempDir dir;
    std::filesystem::create_directories(dir.Path() + "/ppp/peers");
    std::filesystem::create_directories(dir.Path() + "/chatscripts");
    std::ofstream(dir.Path() + "/chatscripts/provider")
        << "ABORT BUSY\n'' ATZ\nOK-AT-OK \"ATDT0202122\"\nCONNECT ''\n";
    std::ofstream(dir.Path() + "/ppp/peers/provider")
        << "# pppconfig\nconnect \"/usr/sbin/chat -v -f " << dir.Path()
        << "/chatscripts/provider\"\n/dev/ttyGuard0\n";
    // pppd reads the value with its own escapes, then sh runs it: "&" and "\\T" must be quoted.
    std::ofstream(dir.Path() + "/ppp/peers/other")
        << "connect '/usr/sbin/chat -T 0700111 \"\" \"AT&D2\" OK \"ATDT\\\\T\" CONNECT'\n";
    std::ofstream(dir.Path() + "/ppp/peers/twin1") << "connect 'chat \"\" ATDT555 CONNECT'\n";
    std::ofstream(dir.Path() + "/ppp/peers/twin2") << "connect 'chat \"\" ATDP555 CONNECT'\n";
    // wvdial dialers count too, with "Dialer Defaults" and Inherits merged; a peer hides a dialer
    // of its name.
    std::ofstream(dir.Path() + "/wvdial.conf")
        << "[Dialer Defaults]\nModem = /dev/ttyGuard0\nPhone = 0800 123\n"
           "[Dialer isp]\nUsername = jan\n"
           "[Dialer backup]\nInherits = isp\nPhone = 0300-44\n"
           "[Dialer provider]\nPhone = 0999\n";
    const std::string peers = dir.Path() + "/ppp/peers", wvdial = dir.Path() + "/wvdial.conf";
    struct TCase {
        const char* Number;
        const char* Entry; // "" = none
        std::string PhoneBook;
    } cases[] = {{"0202122", "provider", peers},
                 {"0700111", "other", peers},
                 {"555", "", ""},
                 {"999", "", ""},
                 {"", "", ""},
                 {"0800123", "isp", wvdial},
                 {"030044", "backup", wvdial},
                 {"0999", "", ""}};
    for (const TCase& c : cases) {
        auto e = FindPeersEntry(dir.Path(), c.Number);
        EXPECT_EQ(e ? e->Name : "", c.Entry) << c.Number;
        EXPECT_EQ(e ? e->PhoneBook : "", c.PhoneBook) << c.Number;
    }
}

TEST(PeersLookup, NamesTheEntryADialingProgramWasStartedFor) {
    TTempDir dir;
    std::filesystem::create_directories(dir.Path() + "/ppp/peers");
    std::ofstream(dir.Path() + "/ppp/peers/provider") << "connect 'chat \"\" ATDL CONNECT'\n";
    std::ofstream(dir.Path() + "/wvdial.conf")
        << "[Dialer Defaults]\nPhone = 1\n[Dialer isp]\n[Dialer provider]\n";
    std::ofstream(dir.Path() + "/my.conf") << "[Dialer home]\nPhone = 2\n";
    const std::string peers = dir.Path() + "/ppp/peers", wvdial = dir.Path() + "/wvdial.conf";
    struct TCase {
        std::vector<std::string> Args;
        const char* Entry; // "" = none
        std::string PhoneBook;
    } cases[] = {
        {{"/usr/sbin/pppd", "call", "provider"}, "provider", peers},
        {{"/bin/sh", "-c", "chat", "call", "provider"}, "provider", peers}, // a stand-in for pppd
        {{"pppd", "call", "nosuch"}, "", ""},
        {{"pppd", "call", "../ppp/peers/provider"}, "", ""},
        {{"/usr/bin/wvdial", "isp"}, "isp", wvdial},
        {{"wvdial", "provider"}, "provider", wvdial}, // wvdial's own dialer, not the peer
        {{"wvdial", "nosuch", "isp"}, "isp", wvdial},
        {{"wvdial", "--config", dir.Path() + "/my.conf", "home"}, "home", dir.Path() + "/my.conf"},
        {{"wvdial", "-C", dir.Path() + "/my.conf", "isp"}, "", ""},
        {{"wvdial"}, "", ""}, // the defaults are no entry
        {{"minicom", "isp"}, "", ""},
        {{}, "", ""},
    };
    const TFileReader read = [](const std::string& path) -> std::optional<std::string> {
        std::ifstream in(path);
        if (!in)
            return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    for (const TCase& c : cases) {
        auto e = EntryOfDialingProgram(dir.Path() + "/", c.Args, read);
        const std::string shown = c.Args.empty() ? "" : c.Args.back();
        EXPECT_EQ(e ? e->Name : "", c.Entry) << shown;
        EXPECT_EQ(e ? e->PhoneBook : "", c.PhoneBook) << shown;
    }
}

// A dialing program's arguments name the file the root service reads for it: it gets only what
// that program's user could read, and nothing that could hang or fill the service.
TEST(PeersLookup, ReadsFilesOnlyAsTheProgramsUserCould) {
    TTempDir dir;
    const std::string mine = dir.Path() + "/mine.conf", secret = dir.Path() + "/secret.conf",
                      big = dir.Path() + "/big.conf", fifo = dir.Path() + "/fifo";
    std::ofstream(mine) << "[Dialer home]\nPhone = 2\n";
    std::ofstream(secret) << "[Dialer root]\nPhone = 3\n";
    ::chmod(mine.c_str(), 0644);
    ::chmod(secret.c_str(), 0600);
    ::chmod(dir.Path().c_str(), 0755);
    std::ofstream(big) << std::string(4096, '#');
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    std::optional<TCredentials> self = ProcessCredentials(::getpid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->Uid, ::getuid());
    const TCredentials nobody{65534, 65534, {}};
    const bool root = ::geteuid() == 0;
    struct TCase {
        std::string Path;
        const TCredentials* Who;
        bool Read;
    } cases[] = {
        {mine, &*self, true},         {big, &*self, false}, // larger than the bound
        {fifo, &*self, false},                              // nobody writes it: no hang
        {"/dev/zero", &*self, false},                       // endless
        {dir.Path(), &*self, false},                        // a folder
        {secret, &nobody, !root},                           // root's own file, asked for by another user
        {mine, &nobody, true},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const TCase& c : cases) {
        if (c.Who == &nobody && !root)
            continue; // taking another identity needs root
        EXPECT_EQ(ReadFileAs(c.Path, *c.Who, 1024, 2000).has_value(), c.Read) << c.Path;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(ReadFileAs(mine, *self, 1024, 2000), "[Dialer home]\nPhone = 2\n");
}

TEST(LineFeed, LineNamesKeepTheirBlanks) {
    const std::vector<qm::TFeedLine> lines = {{0, 16, "  modem  two "}, {1, 4, "a\nb"}};
    std::string header = qm::FormatFeedHeader(lines);
    std::vector<std::string> names;
    for (std::size_t at = 0, nl; (nl = header.find('\n', at)) != std::string::npos; at = nl + 1) {
        qm::TFeedMessage m = qm::ParseFeedMessage(std::string_view(header).substr(at, nl - at));
        if (m.Kind == qm::TFeedMessage::fmLine)
            names.push_back(m.Line.Name);
    }
    EXPECT_EQ(names, std::vector<std::string>({"  modem  two ", "a b"}));
}

TEST(ProcInfo, CommandLinesQuoteArgumentsWithBlanks) {
    EXPECT_EQ(JoinCommandLine({"/bin/sh", "-c", "echo hi", ""}), "/bin/sh -c \"echo hi\" \"\"");
    EXPECT_EQ(PendingExecCommandLine(::getpid()), ""); // not inside execve
    EXPECT_EQ(ParentPid(::getpid()), ::getppid());
    EXPECT_TRUE(IsSelfOrDescendant(::getpid(), ::getppid()));
    EXPECT_FALSE(IsSelfOrDescendant(::getppid(), ::getpid()));
}

TEST(ProcInfo, ParentAndUidSurviveOddProgramNames) {
    TProcessIds self = ProcessParentAndUid(::getpid());
    EXPECT_EQ(self.Parent, ::getppid());
    EXPECT_EQ(self.Uid, ::geteuid());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_NAME, "x) 1 2 (y", 0, 0, 0); // the name is free text in /proc/<pid>/stat
        (void)!::write(ready[1], "r", 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    TProcessIds ids = ProcessParentAndUid(child);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(ids.Parent, ::getpid());
    EXPECT_EQ(ids.Uid, ::geteuid());
    EXPECT_EQ(ProcessParentAndUid(child).Uid, static_cast<uid_t>(-1)); // gone
}

TEST(ProcInfo, TaskIdsAgreeWithTheProcFilesForThreadsAndSplitUsers) {
    // A thread that is not the leader, and (as root) a process whose real user differs from its
    // effective one: the pidfd answer must name the thread group and the real user, as /proc does.
    std::atomic<pid_t> threadId{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        threadId = ::gettid();
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (threadId == 0)
        std::this_thread::yield();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const bool root = ::geteuid() == 0;
    const pid_t split = ::fork();
    if (split == 0) {
        if (root && ::setresuid(54321, 0, 0) != 0)
            ::_exit(90);
        (void)!::write(ready[1], "r", 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    const struct {
        const char* What;
        pid_t Tid, Process, Parent;
        uid_t Uid;
    } cases[] = {
        {"this process", ::getpid(), ::getpid(), ::getppid(), ::getuid()},
        {"a thread of it", threadId, ::getpid(), ::getppid(), ::getuid()},
        {"a child", split, split, ::getpid(), root ? 54321u : ::getuid()},
    };
    for (const auto& k : cases) {
        const TProcessIds fromKernel = TaskIds(k.Tid), fromProc = ProcessParentAndUid(k.Tid);
        EXPECT_EQ(fromKernel.Process, k.Process) << k.What;
        EXPECT_EQ(fromKernel.Parent, k.Parent) << k.What;
        EXPECT_EQ(fromKernel.Uid, k.Uid) << k.What;
        EXPECT_EQ(fromProc.Process, k.Process) << k.What;
        EXPECT_EQ(fromProc.Uid, k.Uid) << k.What;
    }
    done = true;
    worker.join();
    ::kill(split, SIGKILL);
    ::waitpid(split, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(TaskIds(split).Uid, static_cast<uid_t>(-1)); // gone
    EXPECT_EQ(TaskIds(0).Uid, static_cast<uid_t>(-1));     // not in this pid namespace
}

TEST(ExecMounts, FindsTheLoaderAProgramNames) {
    TTempDir dir;
    std::ofstream(dir.Path() + "/script") << "#!/bin/sh\nexit 0\n";
    // A header whose program table lies past the end of everything: no loader, no stray read.
    Elf64_Ehdr bad{};
    std::memcpy(bad.e_ident, ELFMAG, SELFMAG);
    bad.e_ident[EI_CLASS] = ELFCLASS64;
    bad.e_phoff = ~std::uint64_t(0) - 8;
    bad.e_phentsize = sizeof(Elf64_Phdr);
    bad.e_phnum = 1;
    std::ofstream(dir.Path() + "/bad", std::ios::binary)
        .write(reinterpret_cast<const char*>(&bad), sizeof(bad));
    struct TCase {
        std::string Path;
        bool HasLoader;
    } cases[] = {{"/bin/true", true}, {dir.Path() + "/script", false}, {dir.Path() + "/bad", false}};
    for (const TCase& c : cases) {
        const int fd = ::open(c.Path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << c.Path;
        const std::string loader = ElfInterpreter(fd);
        ::close(fd);
        EXPECT_EQ(!loader.empty() && loader[0] == '/' && ::access(loader.c_str(), F_OK) == 0, c.HasLoader)
            << c.Path << ": " << loader;
    }
}

TEST(GuardSocket, ConnectsOnlyToTheCheckedSocketOfItsUser) {
    TTempDir dir;
    const std::string path = dir.Path() + "/hook.sock", other = dir.Path() + "/other.sock";
    std::string why;
    const int guard = ListenUnix(path, 0600, &why);
    const int intruder = ListenUnix(other, 0600, &why);
    ASSERT_GE(guard, 0) << why;
    ASSERT_GE(intruder, 0) << why;
    auto accepted = [](int listenFd) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    };
    const uid_t me = ::getuid();
    // The path is swapped for another socket after the check: the connection reaches the checked one.
    const int fd = ConnectOwnedSocket(path, me, &why, [&] { std::filesystem::rename(other, path); });
    ASSERT_GE(fd, 0) << why;
    ::close(fd);
    EXPECT_TRUE(accepted(guard));
    EXPECT_FALSE(accepted(intruder));

    std::filesystem::create_symlink(path, dir.Path() + "/link.sock");
    std::ofstream(dir.Path() + "/plain") << "x";
    struct TCase {
        std::string Path;
        uid_t Uid;
        const char* Why;
    } cases[] = {{path, me + 1, "belongs to another user"},
                 {dir.Path() + "/link.sock", me, "is not a socket"}, // a link is not followed
                 {dir.Path() + "/plain", me, "is not a socket"},
                 {dir.Path() + "/missing.sock", me, "No such file"}};
    for (const TCase& c : cases) {
        why.clear();
        EXPECT_EQ(ConnectOwnedSocket(c.Path, c.Uid, &why), -1) << c.Path;
        EXPECT_NE(why.find(c.Why), std::string::npos) << c.Path << ": " << why;
    }
    EXPECT_FALSE(accepted(guard));
    ::close(guard);
    ::close(intruder);
}

namespace {

int ConnectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What the peer sent so far; "<closed>" once it closed the connection.
std::string Received(int fd) {
    char buf[512];
    const ssize_t n = ::recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
    return n == 0 ? "<closed>" : n < 0 ? "" : std::string(buf, static_cast<std::size_t>(n));
}

void Pump(TPollLoop& loop, int ms) {
    const std::int64_t end = TPollLoop::NowMs() + ms;
    while (TPollLoop::NowMs() < end)
        loop.RunOnce(5);
}

} // namespace

TEST(ControlServer, CapsConnectionsChecksPathsAndForgets) {
    TTempDir dir;
    TPollLoop loop;
    TGuardRegistry registry;
    std::string log;
    TControlServer server(
        loop, registry, [&](const std::string& t) { log += t + "\n"; },
        TControlLimits{.PerUser = 4, .Total = 256, .RegisterWithinMs = 300});
    std::string why;
    ASSERT_TRUE(server.Listen(dir.Path() + "/control.sock", &why)) << why;
    std::vector<int> fds;
    for (int i = 0; i < 6; ++i)
        fds.push_back(ConnectTo(dir.Path() + "/control.sock"));
    Pump(loop, 50);
    EXPECT_EQ(server.Connections(), 4u);
    EXPECT_EQ(Received(fds[4]), "<closed>"); // refused at once, not left waiting
    EXPECT_EQ(Received(fds[5]), "<closed>");
    EXPECT_NE(log.find("too many connections"), std::string::npos);

    auto ask = [&](int fd, const std::string& line) {
        (void)!::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        Pump(loop, 20);
        return Received(fd);
    };
    struct TCase {
        std::string Line;
        std::string Reply;
    } cases[] = {
        {"FORGET\n", "ERR not registered\n"},
        {"REGISTER relative.sock\n", "ERR the path must be absolute\n"},
        {"REGISTER /tmp/a\x01"
         "b.sock\n",
         "ERR the path holds control characters\n"},
        {"REGISTER /tmp/a\x7f"
         "b.sock\n",
         "ERR the path holds control characters\n"},
        {"REGISTER /" + std::string(107, 'x') + "\n", "ERR the path is too long for a socket\n"},
        {"REGISTER " + dir.Path() + "/hook.sock\n", "OK\n"}, // not there yet: a guard may register first
        {"FORGET\n", "OK\n"},
        {"PING\n", "OK\n"},
        {"HELLO\n", "ERR unknown request\n"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ask(fds[0], c.Line), c.Reply) << c.Line;
    ASSERT_EQ(registry.Count(), 1u);
    EXPECT_EQ(registry.Snapshot()[0].Epoch, 1u);

    // Connections that never register are closed in time, the registered one stays.
    Pump(loop, 400);
    EXPECT_EQ(server.Connections(), 1u);
    EXPECT_EQ(Received(fds[1]), "<closed>");
    EXPECT_EQ(Received(fds[0]), "");
    for (int fd : fds)
        ::close(fd);
    Pump(loop, 20);
    EXPECT_EQ(registry.Count(), 0u);
}

TEST(PollLoop, HandlersChangingTheSetAndTimersCancelledMidRound) {
    TPollLoop loop;
    int a[2], b[2];
    ASSERT_EQ(::pipe2(a, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(b, O_CLOEXEC), 0);
    (void)!::write(a[1], "x", 1);
    (void)!::write(b[1], "x", 1);
    int calledA = 0, calledB = 0, fired = 0;
    // Whichever runs first removes the other, which is then not called in that round.
    loop.Watch(a[0], POLLIN, [&](short) {
        ++calledA;
        loop.Unwatch(b[0]);
    });
    loop.Watch(b[0], POLLIN, [&](short) {
        ++calledB;
        loop.Unwatch(a[0]);
    });
    std::uint64_t late = loop.After(0, [&] { fired += 100; });
    loop.After(0, [&] {
        ++fired;
        loop.Cancel(late);
    });
    loop.Cancel(loop.After(0, [&] { fired += 1000; }));
    loop.RunOnce(0);
    EXPECT_EQ(calledA + calledB, 1);
    EXPECT_EQ(loop.Watched(), 1u);
    EXPECT_TRUE(fired == 1 || fired == 101) << fired; // the order of equal due times is free
    // A descriptor watched again after removal gets its new handler.
    loop.Watch(a[0], POLLIN, [&](short) { calledA += 10; });
    loop.Unwatch(b[0]);
    loop.RunOnce(0);
    EXPECT_GE(calledA, 10);
    for (int fd : {a[0], a[1], b[0], b[1]})
        ::close(fd);
}

TEST(ServiceManager, NotifiesOverItsSocketAndReadsTheWatchdogInterval) {
    TTempDir dir;
    for (const std::string& name :
         {dir.Path() + "/notify", std::string("@qmvardel-test-") + std::to_string(::getpid())}) {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, name.c_str(), name.size());
        socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        if (name[0] == '@')
            addr.sun_path[0] = '\0';
        else
            ++size;
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), size), 0) << name;
        ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
        EXPECT_TRUE(SdNotify("WATCHDOG=1")) << name;
        char buf[64] = {};
        EXPECT_EQ(::recv(fd, buf, sizeof(buf), MSG_DONTWAIT), 10) << name;
        EXPECT_STREQ(buf, "WATCHDOG=1");
        ::close(fd);
    }
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(SdNotify("READY=1"));
    struct TCase {
        const char* Usec;
        const char* Pid; // nullptr: unset
        int PingMs;
    } cases[] = {{"30000000", nullptr, 15000}, {"30000000", "1", 0}, {"0", nullptr, 0}, {"junk", nullptr, 0}};
    const std::string self = std::to_string(::getpid());
    for (const TCase& c : cases) {
        ::setenv("WATCHDOG_USEC", c.Usec, 1);
        if (c.Pid)
            ::setenv("WATCHDOG_PID", c.Pid, 1);
        else
            ::unsetenv("WATCHDOG_PID");
        EXPECT_EQ(SdWatchdogPingMs(), c.PingMs) << c.Usec;
    }
    ::setenv("WATCHDOG_USEC", "30000000", 1);
    ::setenv("WATCHDOG_PID", self.c_str(), 1);
    EXPECT_EQ(SdWatchdogPingMs(), 15000);
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
}

TEST(Vardeld, StartedForAGuardItEndsWhenNoGuardNeedsItASystemOneStays) {
    TTempDir dir;
    const std::string runA = dir.Path() + "/a", runB = dir.Path() + "/b";
    std::filesystem::create_directories(dir.Path() + "/sa");
    std::filesystem::create_directories(dir.Path() + "/sb");
    auto config = [&](const std::string& run) {
        return "exec_guard = no\nrun_dir = " + run + "\nlock_dir = " + dir.Path() + "\n";
    };
    TVardeld forGuard(dir.Path() + "/sa", runA, config(runA), {"--started-by-guard", "--grace-ms", "400"});
    TVardeld system(dir.Path() + "/sb", runB, config(runB));
    ASSERT_TRUE(forGuard.Started());
    ASSERT_TRUE(system.Started());
    const int registration = RegisterGuard(runA + "/control.sock", dir.Path() + "/hook.sock");
    ASSERT_GE(registration, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // twice the grace, with a guard
    EXPECT_TRUE(forGuard.Running());
    ::close(registration);
    EXPECT_TRUE(WaitUntil([&] { return !forGuard.Running(); }, 3000)) << forGuard.Log();
    EXPECT_NE(forGuard.Log().find("ends"), std::string::npos);
    EXPECT_TRUE(system.Running());
}

TEST(GuardSocket, QuestionsLookTheSocketUpInTheFolderHeldSinceRegistration) {
    TTempDir dir;
    const std::string folderPath = dir.Path() + "/guard", path = folderPath + "/hook.sock";
    std::filesystem::create_directories(folderPath);
    std::string why;
    const int guard = ListenUnix(path, 0600, &why);
    ASSERT_GE(guard, 0) << why;
    auto folder = OpenGuardFolder(path, &why);
    ASSERT_NE(folder, nullptr) << why;
    EXPECT_EQ(OpenGuardFolder(dir.Path() + "/missing/hook.sock", &why), nullptr);
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;
    auto accepted = [](int listenFd) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    };
    std::filesystem::create_symlink(path, folderPath + "/link.sock");
    struct TCase {
        std::string Name;
        bool Connects;
    } cases[] = {{"hook.sock", true}, {"link.sock", false}, {"../guard/hook.sock", false}};
    for (const TCase& c : cases) {
        const int fd = ConnectOwnedSocketAt(folder->Fd, c.Name, ::getuid(), &why);
        EXPECT_EQ(fd >= 0, c.Connects) << c.Name << ": " << why;
        if (fd >= 0)
            ::close(fd);
        EXPECT_EQ(accepted(guard), c.Connects) << c.Name;
    }
    // A filesystem mounted over the folder afterwards, with a socket of the same name: the
    // question still reaches the registered guard.
    if (::geteuid() == 0 && ::mount("tmpfs", folderPath.c_str(), "tmpfs", 0, "size=1m,mode=0755") == 0) {
        const int decoy = ListenUnix(path, 0600, &why);
        const int fd = ConnectOwnedSocketAt(folder->Fd, "hook.sock", ::getuid(), &why);
        EXPECT_GE(fd, 0) << why;
        if (fd >= 0)
            ::close(fd);
        EXPECT_TRUE(accepted(guard));
        EXPECT_FALSE(accepted(decoy));
        ::close(decoy);
        ::umount2(folderPath.c_str(), MNT_DETACH);
    }
    ::close(guard);
}

TEST(ControlServer, AFailedAcceptRestsInsteadOfSpinning) {
    TTempDir dir;
    // In a child of its own: the child runs out of descriptors on purpose.
    const pid_t child = ::fork();
    if (child == 0) {
        TPollLoop loop;
        TGuardRegistry registry;
        std::string log;
        TControlServer server(loop, registry, [&](const std::string& t) { log += t + "\n"; });
        std::string why;
        if (!server.Listen(dir.Path() + "/control.sock", &why))
            ::_exit(90);
        const int client = ConnectTo(dir.Path() + "/control.sock");
        std::vector<int> filler;
        for (int fd; (fd = ::dup(client)) >= 0;) // every descriptor taken: accept4 gets EMFILE
            filler.push_back(fd);
        int rounds = 0;
        const std::int64_t end = TPollLoop::NowMs() + 300;
        while (TPollLoop::NowMs() < end) {
            loop.RunOnce(10);
            ++rounds;
        }
        if (rounds > 200 || log.find("cannot accept") == std::string::npos)
            ::_exit(91); // a listener left readable is polled thousands of times in 300 ms
        for (int fd : filler)
            ::close(fd);
        Pump(loop, 2500); // after its rest the listener takes the waiting connection
        ::_exit(server.Connections() == 1 ? 0 : 92);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

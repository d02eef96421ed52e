#include "support/TempDir.h"
#include "uExecGuard.h"
#include "uGuardRegistry.h"
#include "uPeersLookup.h"
#include "uProcInfo.h"
#include "uServiceConfig.h"
#include "uServiceSockets.h"
#include "uUucpLock.h"

#include "platform/linux/uLineFeedProtocol.h"
#include "util/uQmError.h"

#include <chrono>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
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

#include "platform/linux/uLinuxProcessControl.h"
#include "platform/linux/uLinuxRemoteAccess.h"
#include "util/uQmError.h"

#include "support/TempDir.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kFixtures = std::string(QM_TEST_SOURCE_DIR) + "/tests/platform/fixtures";

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << content;
}

class TRecordingProcesses : public IProcessControl {
public:
    std::optional<std::vector<TProcessInfo>> List = std::vector<TProcessInfo>{};
    std::vector<std::vector<TProcessInfo>> Ended;
    std::vector<std::vector<std::string>> Started;
    std::optional<std::vector<TProcessInfo>> ListProcesses() override { return List; }
    void EndProcesses(const std::vector<TProcessInfo>& p) override { Ended.push_back(p); }
    bool StartDetached(const std::vector<std::string>& argv) override {
        Started.push_back(argv);
        return true;
    }
};

} // namespace

TEST(LinuxRemoteAccess, EntryNumbersFromPeersChatScriptsAndWvdial) {
    TRecordingProcesses processes;
    TLinuxRemoteAccess pppconfig(kFixtures + "/pppconfig", processes);
    EXPECT_EQ(pppconfig.GetEntryPhoneNumber("provider", ""), "0202122");

    TLinuxRemoteAccess mixed(kFixtures + "/mixed", processes);
    struct TCase {
        const char* Entry;
        std::string Number;
    } cases[] = {
        {"debian", "0700 123 45"}, // -T into \T; the peer hides the wvdial dialer of its name
        {"inline", "0 300 12"},    // the chat script on the connect line, after an &D2 init
        {"initd2", "0400"},        // keywords, an init with &D2 and +CGDCONT, then the dial
        {"redial", ""},            // ATDL dials no number of its own
        {"stored", ""},
        {"script", ""},             // a connect that is not chat
        {"quoted", "055"},          // pppd escapes inside, shell quoting within
        {"quotedfile", "9,0 800"},  // \U and \T in a file script
        {"incl", "0500"},           // call
        {"override", "0600"},       // a later connect wins over an included one
        {"fileinc", "0 700 88"},    // file
        {"loop", "0707"},           // a peer that calls itself
        {"work", "0 22 555 12 12"}, // wvdial
        {"home", "0202999"},        // wvdial: Phone from "Dialer Defaults"
        {"shh", "0 22 555 12 12"},  // wvdial: Inherits
        {"Defaults", ""},
        {"nothere", ""},
        {"../pppconfig/ppp/peers/provider", ""}, // only plain names are entries
        {"", ""},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(mixed.GetEntryPhoneNumber(c.Entry, ""), c.Number) << c.Entry;
}

TEST(LinuxRemoteAccess, PhoneBookPathIsUsedOnlyWhenItExists) {
    TRecordingProcesses processes;
    TLinuxRemoteAccess ras(kFixtures + "/mixed", processes);
    // A folder of peers, a wvdial-style file, a single option file, a path that is not there.
    TTempDir other;
    WriteFile(other.Path() + "/dom", "connect \"chat '' ATDT0303\"\n");
    EXPECT_EQ(ras.GetEntryPhoneNumber("dom", other.Path()), "0303");
    EXPECT_EQ(ras.GetEntryPhoneNumber("base", other.Path()), ""); // that folder has no such entry
    EXPECT_EQ(ras.GetEntryPhoneNumber("work", kFixtures + "/mixed/wvdial.conf"), "0 22 555 12 12");
    EXPECT_EQ(ras.GetEntryPhoneNumber("any", kFixtures + "/mixed/ppp/peers/base"), "0500");
    EXPECT_EQ(ras.GetEntryPhoneNumber("base", "/nonexistent/phonebook.pbk"), "0500");
}

TEST(LinuxRemoteAccess, EntryListIsSortedAndComplete) {
    TRecordingProcesses processes;
    TLinuxRemoteAccess ras(kFixtures + "/mixed", processes);
    std::vector<std::string> list{"stale"};
    ASSERT_TRUE(ras.GetEntryList(list));
    EXPECT_EQ(list, (std::vector<std::string>{"base", "debian", "fileinc", "home", "incl", "initd2", "inline",
                                              "loop", "override", "quoted", "quotedfile", "redial", "script",
                                              "shh", "stored", "work"}));

    TLinuxRemoteAccess pppconfig(kFixtures + "/pppconfig", processes);
    ASSERT_TRUE(pppconfig.GetEntryList(list));
    EXPECT_EQ(list, std::vector<std::string>{"provider"}); // the editor's backup is no entry

    // More than twenty entries all come back.
    TTempDir temp;
    for (int i = 0; i < 25; ++i)
        WriteFile(temp.Path() + "/ppp/peers/isp" + std::to_string(100 + i), "connect \"chat '' ATDT1\"\n");
    TLinuxRemoteAccess many(temp.Path(), processes);
    ASSERT_TRUE(many.GetEntryList(list));
    EXPECT_EQ(list.size(), 25u);
    EXPECT_EQ(list.front(), "isp100");

    TLinuxRemoteAccess none(temp.Path() + "/nothing", processes);
    EXPECT_TRUE(none.GetEntryList(list)); // no dial-up software: an empty phone book
    EXPECT_TRUE(list.empty());
}

TEST(LinuxRemoteAccess, UnreadablePhoneBookRaisesAClearError) {
    TRecordingProcesses processes;
    TTempDir temp;
    // Symbolic link loops cannot be read by anyone, root included.
    WriteFile(temp.Path() + "/ppp/peers/good", "connect \"chat -f /etc/chatscripts/loop\"\n");
    fs::create_directories(temp.Path() + "/chatscripts");
    fs::create_symlink("loop", temp.Path() + "/chatscripts/loop");
    fs::create_symlink("bad", temp.Path() + "/ppp/peers/bad");
    TLinuxRemoteAccess ras(temp.Path(), processes);
    for (const char* entry : {"good", "bad"}) {
        try {
            ras.GetEntryPhoneNumber(entry, "");
            ADD_FAILURE() << entry << " did not raise";
        } catch (const EQmError& e) {
            EXPECT_THAT(e.what(),
                        testing::StartsWith("Nie można odczytać ustawień połączeń telefonicznych: "));
        }
    }
    TTempDir loopy;
    fs::create_directories(loopy.Path() + "/ppp");
    fs::create_symlink("peers", loopy.Path() + "/ppp/peers");
    fs::create_symlink("wvdial.conf", loopy.Path() + "/wvdial.conf");
    TLinuxRemoteAccess unreadable(loopy.Path(), processes);
    std::vector<std::string> list{"stale"};
    EXPECT_FALSE(unreadable.GetEntryList(list));
    EXPECT_TRUE(list.empty());
    EXPECT_THROW(unreadable.GetEntryPhoneNumber("x", ""), EQmError);
}

// Regression rows of the fuzzing rounds: files that once blocked, exhausted or slowed the reader.
TEST(LinuxRemoteAccess, HostilePhoneBooksAreReadBoundedAndOnce) {
    TRecordingProcesses processes;
    TTempDir t;
    const std::string peers = t.Path() + "/ppp/peers/";
    fs::create_directories(peers);
    ASSERT_EQ(::mkfifo((t.Path() + "/fifo").c_str(), 0600), 0);
    WriteFile(peers + "zero", "file /dev/zero\nconnect \"chat '' ATDT0101\"\n");
    WriteFile(peers + "fifo", "file " + t.Path() + "/fifo\nconnect \"chat '' ATDT0202\"\n");
    // Itself under twelve spellings: once 12! reads.
    std::string self = "connect \"chat '' ATDT0303\"\n";
    for (int k = 0; k < 12; ++k)
        self += "file " + peers + std::string(static_cast<std::size_t>(k), '/') + "self\n";
    WriteFile(peers + "self", self);
    WriteFile(peers + "zeroscript", "connect \"chat -f /dev/zero\"\n");
    WriteFile(peers + "big", "connect \"chat '' ATDT0404\"\n" + std::string(2u << 20, '#') + "\n");
    WriteFile(t.Path() + "/wvdial.conf", "[Dialer\twork]\nPhone = 0505\n[Dialer  home]\nPhone = 0606\n"
                                         "[Dialer  x]\nInherits = Dialer\t\thome\n");
    TLinuxRemoteAccess ras(t.Path(), processes);
    struct TCase {
        const char* Entry;
        std::string Number; // "!" when the entry cannot be read
    } cases[] = {
        {"zero", "0101"}, {"fifo", "0202"}, {"self", "0303"}, {"zeroscript", "!"},
        {"big", "!"},     {"work", "0505"}, {"home", "0606"}, {"x", "0606"},
    };
    for (const TCase& c : cases) {
        if (c.Number == "!")
            EXPECT_THROW(ras.GetEntryPhoneNumber(c.Entry, ""), EQmError) << c.Entry;
        else
            EXPECT_EQ(ras.GetEntryPhoneNumber(c.Entry, ""), c.Number) << c.Entry;
    }
    // A phone book named by a dial request that is a device or a FIFO is not read either.
    EXPECT_EQ(ras.GetEntryPhoneNumber("work", "/dev/zero"), "0505");
    EXPECT_EQ(ras.GetEntryPhoneNumber("work", t.Path() + "/fifo"), "0505");
    std::vector<std::string> list;
    ASSERT_TRUE(ras.GetEntryList(list));
    EXPECT_EQ(list,
              (std::vector<std::string>{"big", "fifo", "home", "self", "work", "x", "zero", "zeroscript"}));
}

TEST(LinuxRemoteAccess, DialStartsPppdOrWvdial) {
    TRecordingProcesses processes;
    TLinuxRemoteAccess ras(kFixtures + "/mixed", processes);
    EXPECT_TRUE(ras.Dial("debian"));
    EXPECT_TRUE(ras.Dial("work"));
    EXPECT_FALSE(ras.Dial("nothere"));
    EXPECT_FALSE(ras.Dial("../x"));
    EXPECT_EQ(processes.Started,
              (std::vector<std::vector<std::string>>{{"pppd", "call", "debian"}, {"wvdial", "work"}}));
}

TEST(LinuxRemoteAccess, HangUpEndsEveryPppdAndWvdialWithTheBusyCursor) {
    TRecordingProcesses processes;
    TLinuxRemoteAccess ras(kFixtures + "/mixed", processes);
    std::vector<bool> cursor;
    ras.OnBusyCursor = [&](bool busy) {
        cursor.push_back(busy);
    };
    EXPECT_TRUE(ras.HangUpAll()); // no connection: nothing ended, still a success
    EXPECT_TRUE(processes.Ended.empty());
    processes.List = std::vector<TProcessInfo>{{10, "pppd"}, {11, "bash"}, {12, "wvdial"}, {13, "pppd-x"}};
    EXPECT_TRUE(ras.HangUpAll());
    ASSERT_EQ(processes.Ended.size(), 1u);
    EXPECT_EQ(processes.Ended[0].size(), 2u);
    processes.List.reset();
    EXPECT_FALSE(ras.HangUpAll());
    EXPECT_EQ(cursor, (std::vector<bool>{true, false, true, false, true, false}));
}

namespace {

// A stand-in process of the test: pauses until killed; optionally ignores SIGTERM first.
pid_t StartStandIn(bool ignoreTerm) {
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (ignoreTerm)
            ::signal(SIGTERM, SIG_IGN);
        (void)!::write(ready[1], "x", 1);
        for (;;)
            ::pause();
    }
    char c;
    (void)!::read(ready[0], &c, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return pid;
}

// The signal that ended the child, 0 while it still runs after timeoutMs.
int WaitSignal(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

} // namespace

TEST(LinuxRemoteAccess, HangUpEndsStandInsAndKillsTheOneIgnoringSigterm) {
    // The process list comes from a proc root of our own that names only the stand-ins, so no
    // real pppd of this machine is touched; the signals go to the stand-ins' real pids.
    TTempDir proc;
    const pid_t polite = StartStandIn(false);
    const pid_t stubborn = StartStandIn(true);
    const pid_t dialer = StartStandIn(false);
    const pid_t bystander = StartStandIn(false);
    ASSERT_GT(polite, 0);
    WriteFile(proc.Path() + "/" + std::to_string(polite) + "/comm", "pppd\n");
    WriteFile(proc.Path() + "/" + std::to_string(stubborn) + "/comm", "pppd\n");
    WriteFile(proc.Path() + "/" + std::to_string(dialer) + "/comm", "wvdial\n");
    WriteFile(proc.Path() + "/" + std::to_string(bystander) + "/comm", "bash\n");
    WriteFile(proc.Path() + "/self/comm", "x\n");

    TLinuxProcessControl processes(proc.Path(), 300);
    TLinuxRemoteAccess ras(kFixtures + "/mixed", processes);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(ras.HangUpAll());
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(250)); // it waited for the stubborn one
    EXPECT_EQ(WaitSignal(polite, 2000), SIGTERM);
    EXPECT_EQ(WaitSignal(dialer, 2000), SIGTERM);
    EXPECT_EQ(WaitSignal(stubborn, 2000), SIGKILL);
    EXPECT_EQ(WaitSignal(bystander, 50), 0);
    ::kill(bystander, SIGKILL);
    WaitSignal(bystander, 2000);

    TLinuxProcessControl missing(proc.Path() + "/none", 300);
    TLinuxRemoteAccess noProc(kFixtures + "/mixed", missing);
    EXPECT_FALSE(noProc.HangUpAll());
}

// Debian keeps the phone book to root and group dip: an ordinary user is told which group to join.
TEST(LinuxRemoteAccess, PhoneBookKeptToAGroupTellsTheUserToJoinIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to look as another user";
    const group* dip = ::getgrnam("dip");
    if (!dip)
        GTEST_SKIP() << "no group dip";
    TTempDir temp;
    fs::permissions(temp.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    WriteFile(temp.Path() + "/ppp/peers/work", "connect \"chat -f /etc/chatscripts/work\"\n");
    WriteFile(temp.Path() + "/chatscripts/work", "'' ATDT0202\n");
    for (const char* dir : {"/ppp/peers", "/chatscripts"}) {
        ASSERT_EQ(::chown((temp.Path() + dir).c_str(), 0, dip->gr_gid), 0);
        ASSERT_EQ(::chmod((temp.Path() + dir).c_str(), 02750), 0);
    }
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        std::string said;
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
            TRecordingProcesses processes;
            TLinuxRemoteAccess ras(temp.Path(), processes);
            std::vector<std::string> list;
            said = ras.GetEntryList(list) ? "listed" : ras.EntryListError();
            try {
                said += "\x1e" + ras.GetEntryPhoneNumber("work", "");
            } catch (const EQmError& e) {
                said += std::string("\x1e") + e.what();
            }
        }
        (void)!::write(out[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::waitpid(child, nullptr, 0);
    const std::string advice =
        "członkowie grupy dip.\nAby QmVardel mógł je odczytać, dodaj swoje konto do tej "
        "grupy\n(jako administrator: adduser nobody dip) i zaloguj się ponownie.";
    EXPECT_THAT(said, testing::StartsWith("Nie można odczytać ustawień połączeń telefonicznych: " +
                                          temp.Path() + "/ppp/peers (Permission denied).\n"));
    EXPECT_THAT(said, testing::HasSubstr(advice));
    const std::size_t second = said.find('\x1e');
    ASSERT_NE(second, std::string::npos);
    EXPECT_THAT(said.substr(second + 1), testing::HasSubstr(advice)) << "the entry's number too";
}

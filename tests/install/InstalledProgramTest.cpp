// The program as a user meets it after `cmake --install`: this build installed into a temporary
// prefix, started through bin/qmvardel as the ordinary user nobody on a private Xvfb, and asked by
// the installed vardel-hook. The layout test needs nothing special; the start needs root (to install
// for another user and become it), Xvfb and xdotool, and skips without them.
#include "desktop/ChildProcess.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Every path under root, relative to it.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        paths.insert(fs::relative(entry.path(), root).string());
    return paths;
}

std::string Line(const std::string& text, const std::string& key) {
    const std::size_t at = text.find("\n" + key);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + 1 + key.size();
    return text.substr(start, text.find('\n', start) - start);
}

// Stands in for the hook service's control socket, which any user may reach: takes registrations,
// answers OK and keeps each connection open, as the service does while a guard is registered.
class TStandInService {
public:
    explicit TStandInService(const std::string& path) {
        FListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
        FListening = FListen >= 0 && ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                     ::chmod(path.c_str(), 0666) == 0 && ::listen(FListen, 4) == 0;
        if (FListening)
            FThread = std::thread([this] { Serve(); });
    }
    ~TStandInService() {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        for (const int fd : FClients)
            ::close(fd);
        if (FListen >= 0)
            ::close(FListen);
    }
    TStandInService(const TStandInService&) = delete;
    TStandInService& operator=(const TStandInService&) = delete;

    bool Listening() const { return FListening; }
    std::string Registration() {
        std::lock_guard lock(FMutex);
        return FRegistration;
    }

private:
    static bool Readable(int fd) {
        pollfd entry{fd, POLLIN, 0};
        return ::poll(&entry, 1, 50) == 1;
    }
    void Serve() {
        while (!FStop) {
            if (!Readable(FListen))
                continue;
            const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            FClients.push_back(client);
            std::string line;
            char chunk[256];
            while (!FStop && line.find('\n') == std::string::npos) {
                if (!Readable(client))
                    continue;
                const ssize_t n = ::recv(client, chunk, sizeof chunk, 0);
                if (n <= 0)
                    break;
                line.append(chunk, static_cast<std::size_t>(n));
            }
            ::send(client, "OK\n", 3, MSG_NOSIGNAL);
            std::lock_guard lock(FMutex);
            FRegistration = line.substr(0, line.find('\n'));
        }
    }

    int FListen = -1;
    bool FListening = false;
    std::atomic<bool> FStop = false;
    std::thread FThread;
    std::vector<int> FClients;
    std::mutex FMutex;
    std::string FRegistration;
};

class InstalledProgram : public ::testing::Test {
protected:
    // One install for the suite, from the build this test belongs to.
    static void SetUpTestSuite() {
        Root = std::make_unique<TTempDir>();
        // Others (the user the program runs as) must reach the prefix; only its owner writes it.
        fs::permissions(Root->Path(), fs::perms(0755));
        Prefix = *Root / "prefix";
        std::string output;
        InstallStatus = RunProgram({QM_CMAKE_COMMAND, "--install", QM_TEST_BUILD_DIR, "--prefix", Prefix},
                                   output, {}, 120s);
        InstallOutput = output;
    }
    static void TearDownTestSuite() { Root.reset(); }

    void SetUp() override { ASSERT_EQ(InstallStatus, 0) << InstallOutput; }

    static fs::path AppDir() { return fs::path(Prefix) / "lib/qmvardel"; }

    static inline std::unique_ptr<TTempDir> Root;
    static inline std::string Prefix;
    static inline int InstallStatus = -1;
    static inline std::string InstallOutput;
};

} // namespace

TEST_F(InstalledProgram, LaysOutProgramFolderLinksDesktopEntryServiceAndConfiguration) {
    const fs::path prefix = Prefix;
    // The program folder holds everything the program looks for beside itself.
    for (const char* file :
         {"QmVardel", "vardeld", "libVardelHk.so", "qmvardel-sig", "qmvardel-scan", "Sygn.ini",
          "QmVardel.html", "alert.wav", "qmvardel-test.sh", "Skins/corona!/skin.ini", "Images/logo.svg"})
        EXPECT_TRUE(fs::is_regular_file(AppDir() / file)) << file;
    for (const char* program : {"QmVardel", "vardeld", "qmvardel-sig", "qmvardel-scan", "qmvardel-test.sh"})
        EXPECT_EQ(::access((AppDir() / program).c_str(), X_OK), 0) << program;

    // bin/ links into the program folder, so a program started from the PATH finds its companions.
    for (const auto& [link, file] : {std::pair{"qmvardel", "QmVardel"},
                                     {"qmvardel-sig", "qmvardel-sig"},
                                     {"qmvardel-scan", "qmvardel-scan"}}) {
        ASSERT_TRUE(fs::is_symlink(prefix / "bin" / link)) << link;
        EXPECT_TRUE(fs::read_symlink(prefix / "bin" / link).is_relative()) << link;
        EXPECT_EQ(fs::canonical(prefix / "bin" / link), fs::canonical(AppDir() / file)) << link;
    }
    EXPECT_EQ(::access((prefix / "bin/vardel-hook").c_str(), X_OK), 0);

    // The menu entry starts a program and shows an icon that the install provides.
    const std::string entry = ReadWholeFile(prefix / "share/applications/qmvardel.desktop");
    ASSERT_FALSE(entry.empty());
    EXPECT_TRUE(fs::exists(prefix / "bin" / Line(entry, "Exec="))) << entry;
    EXPECT_TRUE(
        fs::is_regular_file(prefix / "share/icons/hicolor/scalable/apps" / (Line(entry, "Icon=") + ".svg")));

    // The service unit starts the companion with the installed configuration.
    const std::string unit = ReadWholeFile(prefix / "lib/systemd/system/vardeld.service");
    EXPECT_NE(Line(unit, "ExecStart=").find("/lib/qmvardel/vardeld --config "), std::string::npos) << unit;
    EXPECT_NE(Line(unit, "ExecStart=").find("/qmvardel/vardeld.conf"), std::string::npos) << unit;
    EXPECT_NE(ReadWholeFile(prefix / "etc/qmvardel/vardeld.conf").find("exec_guard"), std::string::npos);

    // Nothing meant for developers only.
    EXPECT_FALSE(fs::exists(AppDir() / "README.md"));
    EXPECT_FALSE(fs::exists(AppDir() / "Skins/README.md"));
}

TEST_F(InstalledProgram, StartsForAnOrdinaryUserKeepsItsFilesInTheUsersFoldersAndAnswersADial) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: to install for another user and start the program as that user";
    if (!HasProgram("Xvfb") || !HasProgram("xdotool") || !HasProgram("setpriv"))
        GTEST_SKIP() << "Xvfb, xdotool or setpriv is not installed (scripts/setup.sh installs them)";
    const passwd* user = ::getpwnam("nobody");
    if (!user)
        GTEST_SKIP() << "no user nobody on this machine";
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    const auto asUser = [&](std::vector<std::string> args) {
        std::vector<std::string> all = {"setpriv",
                                        "--reuid=" + std::to_string(uid),
                                        "--regid=" + std::to_string(gid),
                                        "--clear-groups",
                                        "--pdeathsig",
                                        "KILL",
                                        "--"};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    };

    // The user's own folders; the system autostart folder is one the user may write, so the first
    // run's autostart switch asks nothing.
    const fs::path home = *Root / "home";
    for (const char* dir : {"", "/.config", "/.local/share", "/run", "/xdg"}) {
        fs::create_directories(home.string() + dir);
        ASSERT_EQ(::chown((home.string() + dir).c_str(), uid, gid), 0);
    }
    fs::permissions(home / "run", fs::perms(0700));
    const TChildProcess::TEnv env = {
        {"HOME", home},
        {"XDG_CONFIG_HOME", home / ".config"},
        {"XDG_DATA_HOME", home / ".local/share"},
        {"XDG_RUNTIME_DIR", home / "run"},
        {"XDG_CONFIG_DIRS", home / "xdg"},
        {"QT_QPA_PLATFORM", "xcb"},
        {"XAUTHORITY", home / ".Xauthority"},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home / "run/no-bus").string()},
        {"VARDELD_CONTROL_SOCKET", *Root / "service.sock"},
    };
    TStandInService service(*Root / "service.sock");
    ASSERT_TRUE(service.Listening());

    TChildProcess xvfb;
    ASSERT_TRUE(
        xvfb.Start(asUser({"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"})));
    const std::string display = xvfb.ReadLine(20s);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    TChildProcess::TEnv desktop = env;
    desktop.emplace_back("DISPLAY", ":" + display);
    const auto windows = [&](const std::string& title) {
        std::string out;
        RunProgram(asUser({"xdotool", "search", "--onlyvisible", "--name", title}), out, desktop);
        return out;
    };

    const std::set<std::string> shipped = Tree(AppDir());
    const std::string log = *Root / "program.log";
    TChildProcess program;
    ASSERT_TRUE(program.Start(asUser({Prefix + "/bin/qmvardel"}), desktop, log));
    const fs::path socket = home / "run/QmVardel/hook.sock";
    // The program's folder is root's: an ordinary user's start goes on only with the settings elsewhere.
    ASSERT_TRUE(PollUntil([&] { return fs::exists(socket) || !program.IsRunning(); }, 20s) &&
                fs::exists(socket))
        << ReadWholeFile(log);
    // A first run ends with the entry picker, or with a box when this user may not read the phone
    // book (Debian keeps it to group dip): either is closed with Escape before the window is looked for.
    std::string firstRunDialog;
    ASSERT_TRUE(PollUntil(
        [&] {
            firstRunDialog = windows("^(Błąd|Ustawienia połączeń modemowych)$");
            return !firstRunDialog.empty() || !windows("^Qm Vardel$").empty();
        },
        20s))
        << "no main window\n"
        << ReadWholeFile(log);
    if (!firstRunDialog.empty()) {
        std::string ignored;
        firstRunDialog = firstRunDialog.substr(0, firstRunDialog.find('\n'));
        RunProgram(asUser({"xdotool", "windowfocus", "--sync", firstRunDialog}), ignored, desktop);
        RunProgram(asUser({"xdotool", "key", "Escape"}), ignored, desktop);
    }
    ASSERT_TRUE(PollUntil([&] { return !windows("^Qm Vardel$").empty(); }, 20s)) << "no main window\n"
                                                                                 << ReadWholeFile(log);
    // The installed hook library registered the user's hook socket with the service.
    EXPECT_TRUE(PollUntil([&] { return service.Registration() == "REGISTER " + socket.string(); }, 20s))
        << service.Registration();

    // A number not on the (empty) list: the prompt comes up and Escape refuses the dial.
    TChildProcess hook;
    ASSERT_TRUE(hook.Start(asUser({Prefix + "/bin/vardel-hook", "dial", "--tag", "1", "0202122"}), desktop));
    std::string prompt;
    ASSERT_TRUE(PollUntil([&] { return !(prompt = windows("^QmVardel$")).empty(); }, 20s))
        << ReadWholeFile(log);
    prompt = prompt.substr(0, prompt.find('\n'));
    std::string ignored;
    RunProgram(asUser({"xdotool", "windowfocus", "--sync", prompt}), ignored, desktop);
    RunProgram(asUser({"xdotool", "key", "Escape"}), ignored, desktop);
    std::string result;
    EXPECT_EQ(hook.Finish(result, 20s), 0);
    EXPECT_EQ(result, "1\n");

    ::kill(program.Pid(), SIGTERM);
    std::string output;
    EXPECT_EQ(program.Finish(output, 20s), 0) << ReadWholeFile(log);

    // The settings went to the user's configuration folder, the rest has its private data folder,
    // and the program folder is as installed.
    const fs::path settings = home / ".config/QmVardel/QmVardel.ini";
    EXPECT_NE(ReadWholeFile(settings).find("first_run_flg=0"), std::string::npos) << ReadWholeFile(settings);
    struct stat info {};
    ASSERT_EQ(::stat(settings.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, uid);
    for (const fs::path& dir : {home / ".config/QmVardel", home / ".local/share/QmVardel"}) {
        ASSERT_EQ(::stat(dir.c_str(), &info), 0) << dir;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << dir;
    }
    EXPECT_EQ(Tree(AppDir()), shipped);
}

// libVardelHk.so as the guard uses it: dlopen, SetHooks with the companion's path.
#include "ServiceRig.h"
#include "StandInGuard.h"
#include "support/TempDir.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using TSetHooks = bool (*)(const char*);

TSetHooks LoadSetHooks() {
    static void* library = ::dlopen((std::string(QM_TEST_BIN_DIR) + "/libVardelHk.so").c_str(), RTLD_NOW);
    return library ? reinterpret_cast<TSetHooks>(::dlsym(library, "SetHooks")) : nullptr;
}

// The pid of the process that serves a Unix socket.
pid_t ServerPid(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        cred.pid = 0;
    ::close(fd);
    return cred.pid;
}

bool Gone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    return !(stat >> pidText >> name >> state) || state == "Z";
}

class HookLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        SetHooks = LoadSetHooks();
        ASSERT_NE(SetHooks, nullptr) << ::dlerror();
        Run = Dir.Path() + "/run";
        ::setenv("XDG_RUNTIME_DIR", Dir.Path().c_str(), 1);
        ::setenv("VARDELD_CONTROL_SOCKET", (Run + "/control.sock").c_str(), 1);
        std::filesystem::create_directories(Dir.Path() + "/QmVardel");
        Guard = std::make_unique<TStandInGuard>(Dir.Path() + "/QmVardel/hook.sock",
                                                [](const TStandInFrame&) { return 0; });
    }
    void TearDown() override {
        ::unsetenv("VARDELD_CONTROL_SOCKET");
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    std::string Config() const {
        return "exec_guard = no\nrun_dir = " + Run + "\nlock_dir = " + Dir.Path() + "\n";
    }

    TTempDir Dir;
    std::string Run;
    TSetHooks SetHooks = nullptr;
    std::unique_ptr<TStandInGuard> Guard;
};

} // namespace

TEST_F(HookLibrary, SetHooksRegistersTheGuardsHookSocket) {
    TVardeld service(Dir.Path(), Run, Config());
    ASSERT_TRUE(service.Started());
    EXPECT_TRUE(SetHooks("/nonexistent/vardeld"));
    EXPECT_TRUE(WaitUntil([&] {
        return service.Log().find("guard registered: process " + std::to_string(::getpid())) !=
               std::string::npos;
    })) << service.Log();
    EXPECT_NE(service.Log().find(Guard->Path()), std::string::npos);
    // The guard can tell the service to forget its remembered answers over that registration.
    static void* library = ::dlopen((std::string(QM_TEST_BIN_DIR) + "/libVardelHk.so").c_str(), RTLD_NOW);
    auto forget = reinterpret_cast<bool (*)()>(::dlsym(library, "ForgetStartAnswers"));
    ASSERT_NE(forget, nullptr);
    EXPECT_TRUE(forget());
    // A second call replaces the registration rather than adding one.
    EXPECT_TRUE(SetHooks("/nonexistent/vardeld"));
    EXPECT_TRUE(WaitUntil([&] { return service.Log().find("guard gone") != std::string::npos; }));
}

TEST_F(HookLibrary, SetHooksFailsWhenNoServiceCanBeReached) {
    EXPECT_FALSE(SetHooks("/nonexistent/vardeld"));
    EXPECT_FALSE(SetHooks(nullptr));
}

TEST_F(HookLibrary, SetHooksStartsTheServiceWhenTheCallerIsRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may start the service";
    // The companion as installed takes its configuration from /etc; this one points at the test's.
    std::ofstream(Dir.Path() + "/vardeld.conf") << Config();
    std::string companion = Dir.Path() + "/vardeld-companion";
    std::ofstream(companion) << "#!/bin/sh\nexec " << QM_TEST_BIN_DIR << "/vardeld --config " << Dir.Path()
                             << "/vardeld.conf \"$@\" 2>" << Dir.Path() << "/started.log\n";
    std::filesystem::permissions(companion, std::filesystem::perms::owner_all);
    EXPECT_TRUE(SetHooks(companion.c_str()));
    pid_t pid = ServerPid(Run + "/control.sock");
    ASSERT_GT(pid, 0);
    EXPECT_NE(pid, ::getpid());
    // Started for a guard, it is told so, and ends by itself once no guard needs it.
    std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
    std::string args((std::istreambuf_iterator<char>(cmdline)), {});
    EXPECT_NE(args.find(std::string("--started-by-guard\0", 19)), std::string::npos);
    ::kill(pid, SIGTERM);
    EXPECT_TRUE(WaitUntil([&] { return Gone(pid); }));
    std::ifstream log(Dir.Path() + "/started.log");
    std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(text.find("guard registered"), std::string::npos) << text;
}

TEST_F(HookLibrary, ControlSocketRefusesRegistrationsItCannotTrust) {
    TVardeld service(Dir.Path(), Run, Config());
    ASSERT_TRUE(service.Started());
    std::ofstream(Dir.Path() + "/plain-file") << "x";
    TStandInGuard foreign(Dir.Path() + "/foreign.sock", [](const TStandInFrame&) { return 0; });
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(foreign.Path().c_str(), 54321, 54321), 0);
    }
    struct TCase {
        std::string Path;
        bool Accepted;
    } cases[] = {
        {"relative/hook.sock", false},
        {Dir.Path() + "/plain-file", false},
        {Dir.Path() + "/not-yet-there.sock", true}, // a guard may register before it listens
        {Guard->Path(), true},
    };
    for (const TCase& c : cases) {
        std::string reply;
        int fd = RegisterGuard(Run + "/control.sock", c.Path, &reply);
        EXPECT_EQ(fd >= 0, c.Accepted) << c.Path << ": " << reply;
        if (fd >= 0)
            ::close(fd);
    }
    if (::geteuid() == 0) {
        std::string reply;
        EXPECT_LT(RegisterGuard(Run + "/control.sock", foreign.Path(), &reply), 0) << "another user's socket";
        EXPECT_NE(reply.find("another user"), std::string::npos);
    }
    // One user's guards are bounded in number.
    std::vector<int> held;
    for (int i = 0; i < 8; ++i)
        held.push_back(RegisterGuard(Run + "/control.sock", Guard->Path()));
    EXPECT_TRUE(std::all_of(held.begin(), held.end(), [](int fd) { return fd >= 0; }));
    std::string reply;
    EXPECT_LT(RegisterGuard(Run + "/control.sock", Guard->Path(), &reply), 0);
    EXPECT_NE(reply.find("too many"), std::string::npos);
    for (int fd : held)
        ::close(fd);
}

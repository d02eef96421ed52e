#include "ServiceRig.h"

#include "support/PollUntil.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    return PollUntil(cond, std::chrono::milliseconds(timeoutMs));
}

namespace {

pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&fa, in, 0);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&fa, out, 1);
    if (err >= 0)
        posix_spawn_file_actions_adddup2(&fa, err, 2);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

int WaitExit(pid_t pid, int timeoutMs) {
    int status = 0;
    bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TVardeld::TVardeld(const std::string& dir, const std::string& runDir, const std::string& config,
                   const std::vector<std::string>& args)
    : FDir(dir) {
    Rewrite(config);
    int err = ::open((dir + "/vardeld.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::string> argv = {std::string(QM_TEST_BIN_DIR) + "/vardeld", "--config",
                                     dir + "/vardeld.conf"};
    argv.insert(argv.end(), args.begin(), args.end());
    FPid = Spawn(argv, -1, -1, err);
    ::close(err);
    FStarted = FPid > 0 && WaitUntil([&] { return ::access((runDir + "/line.sock").c_str(), F_OK) == 0; });
}

TVardeld::~TVardeld() {
    if (FPid > 0)
        Stop();
}

bool TVardeld::Running() {
    if (FPid <= 0)
        return false;
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        return false;
    }
    return true;
}

void TVardeld::Rewrite(const std::string& config) {
    std::ofstream(FDir + "/vardeld.conf") << config;
}

std::string TVardeld::Log() const {
    std::ifstream in(FDir + "/vardeld.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void TVardeld::Signal(int sig) {
    if (FPid > 0)
        ::kill(FPid, sig);
}

int TVardeld::Stop() {
    if (FPid <= 0)
        return -1;
    ::kill(FPid, SIGTERM);
    int code = WaitExit(FPid, 10000);
    FPid = -1;
    return code;
}

int RegisterGuard(const std::string& controlSocket, const std::string& hookSocket, std::string* reply) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, controlSocket.c_str(), sizeof(addr.sun_path) - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    std::string req = "REGISTER " + hookSocket + "\n";
    (void)!::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string in;
    pollfd p{fd, POLLIN, 0};
    while (in.find('\n') == std::string::npos && ::poll(&p, 1, 5000) > 0) {
        char buf[256];
        ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0)
            break;
        in.append(buf, static_cast<std::size_t>(n));
    }
    if (reply)
        *reply = in;
    if (in != "OK\n") {
        ::close(fd);
        return -1;
    }
    return fd;
}

int RunOnTerminal(const std::vector<std::string>& argv, const std::string& ttyPath,
                  const std::string& errPath, int timeoutMs) {
    int tty = ::open(ttyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return -2;
    int code = RunOnTerminalFd(argv, tty, errPath, timeoutMs);
    ::close(tty);
    return code;
}

int RunOnTerminalFd(const std::vector<std::string>& argv, int tty, const std::string& errPath,
                    int timeoutMs) {
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_t pid = Spawn(argv, tty, tty, err);
    ::close(err);
    return pid > 0 ? WaitExit(pid, timeoutMs) : -3;
}

#include "platform/linux/uLinuxProcessControl.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string_view>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int PidfdOpen(int pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}
int PidfdSignal(int fd, int sig) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, sig, nullptr, 0));
}

bool AllDigits(const char* s) {
    if (!*s)
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

} // namespace

TLinuxProcessControl::TLinuxProcessControl(std::string procDir, int graceMs)
    : FProcDir(std::move(procDir)), FGraceMs(graceMs) {}

std::string TLinuxProcessControl::CommandName(int pid) const {
    std::ifstream in(FProcDir + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::optional<std::vector<TProcessInfo>> TLinuxProcessControl::ListProcesses() {
    DIR* dir = ::opendir(FProcDir.c_str());
    if (!dir)
        return std::nullopt;
    std::vector<TProcessInfo> out;
    const int self = ::getpid();
    while (const dirent* e = ::readdir(dir)) {
        if (!AllDigits(e->d_name))
            continue;
        const int pid = std::atoi(e->d_name);
        if (pid == self || pid <= 0)
            continue;
        std::string name = CommandName(pid);
        if (!name.empty()) // a process that ended meanwhile
            out.push_back({pid, std::move(name)});
    }
    ::closedir(dir);
    return out;
}

void TLinuxProcessControl::EndProcesses(const std::vector<TProcessInfo>& processes) {
    struct TTarget {
        int Fd;
        bool Ended;
    };
    std::vector<TTarget> targets;
    for (const TProcessInfo& p : processes) {
        if (p.Pid <= 0 || p.Pid == ::getpid())
            continue;
        const int fd = PidfdOpen(p.Pid);
        if (fd < 0)
            continue;
        // The pidfd pins the process; if its pid was reused since the list was read, the name
        // tells, and the newcomer is left alone.
        if (CommandName(p.Pid) != p.Name || PidfdSignal(fd, SIGTERM) != 0) {
            ::close(fd);
            continue;
        }
        targets.push_back({fd, false});
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FGraceMs);
    for (;;) {
        std::vector<pollfd> waiting;
        for (const TTarget& t : targets)
            if (!t.Ended)
                waiting.push_back({t.Fd, POLLIN, 0});
        if (waiting.empty())
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0)
            break;
        const int n = ::poll(waiting.data(), waiting.size(), static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            break;
        for (const pollfd& w : waiting)
            if (w.revents != 0)
                for (TTarget& t : targets)
                    if (t.Fd == w.fd)
                        t.Ended = true;
    }
    for (const TTarget& t : targets) {
        if (!t.Ended)
            PidfdSignal(t.Fd, SIGKILL);
        ::close(t.Fd);
    }
}

bool TLinuxProcessControl::StartDetached(const std::vector<std::string>& argv) {
    if (argv.empty())
        return false;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The grandchild reports a failed exec through the pipe; a successful one closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            ::execvp(args[0], args.data());
            const int err = errno;
            (void)!::write(report[1], &err, sizeof(err));
            ::_exit(127);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    while ((n = ::read(report[0], &err, sizeof(err))) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    return n == 0;
}

std::vector<int> TLinuxProcessControl::Pids() const {
    std::vector<int> pids;
    DIR* dir = ::opendir(FProcDir.c_str());
    if (!dir)
        return pids;
    while (const dirent* e = ::readdir(dir))
        if (AllDigits(e->d_name))
            pids.push_back(std::atoi(e->d_name));
    ::closedir(dir);
    return pids;
}

std::string TLinuxProcessControl::ExecutablePath(int pid) const {
    const std::string link = FProcDir + "/" + std::to_string(pid) + "/exe";
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
        return {};
    target.resize(static_cast<std::size_t>(n));
    // A file replaced or removed while it runs: the kernel marks the name it had.
    static constexpr std::string_view kDeleted = " (deleted)";
    if (target.size() > kDeleted.size() && target.ends_with(kDeleted))
        target.resize(target.size() - kDeleted.size());
    return target.front() == '/' ? target : std::string();
}

std::optional<std::vector<TProcessExecutable>> TLinuxProcessControl::ListExecutables() {
    if (::access(FProcDir.c_str(), R_OK | X_OK) != 0)
        return std::nullopt;
    std::vector<TProcessExecutable> out;
    const int self = ::getpid();
    for (const int pid : Pids()) {
        if (pid == self || pid <= 0)
            continue;
        std::string path = ExecutablePath(pid);
        if (!path.empty()) // kernel threads, other users' processes, processes that ended
            out.push_back({pid, std::move(path)});
    }
    return out;
}

void TLinuxProcessControl::EndExecutable(const TProcessExecutable& process) {
    if (process.Pid <= 0 || process.Pid == ::getpid() || process.Path.empty())
        return;
    const int fd = PidfdOpen(process.Pid);
    if (fd < 0)
        return;
    // The pidfd pins the process: once it is open and still runs the file, the signals reach it
    // and no newcomer that took over the pid.
    if (ExecutablePath(process.Pid) != process.Path || PidfdSignal(fd, SIGTERM) != 0) {
        ::close(fd);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FGraceMs);
    bool ended = false;
    while (!ended) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            break;
        ended = n > 0;
    }
    if (!ended)
        PidfdSignal(fd, SIGKILL);
    ::close(fd);
}

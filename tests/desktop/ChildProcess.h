#pragma once
// A program the desktop tests start for themselves (X server, message bus, sound server, their
// command-line clients): its output comes through a pipe, it dies with the test process, and it
// is stopped, then killed, when the object goes.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

// True when name is an executable file on PATH.
inline bool HasProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string file = dirs.substr(start, end - start) + "/" + name;
        if (access(file.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

class TChildProcess {
public:
    using TEnv = std::vector<std::pair<std::string, std::string>>;

    TChildProcess() = default;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    ~TChildProcess() { Stop(); }

    // Starts args[0] (looked up on PATH) with env added to this process's environment; stderr goes
    // to errFile (empty: /dev/null). Everything is prepared before the fork: the test process has
    // threads, so the child may only make plain system calls.
    bool Start(const std::vector<std::string>& args, const TEnv& env = {}, const std::string& errFile = {}) {
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const auto& [key, value] : env)
                replaced = replaced || entry.rfind(key + "=", 0) == 0;
            if (!replaced)
                envText.push_back(entry);
        }
        for (const auto& [key, value] : env)
            envText.push_back(key + "=" + value);
        std::vector<char*> argv, envp;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : envText)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const std::string errPath = errFile.empty() ? "/dev/null" : errFile;

        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return false;
        FPid = fork();
        if (FPid < 0) {
            close(pipeFds[0]);
            close(pipeFds[1]);
            return false;
        }
        if (FPid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(pipeFds[1], 1);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (err >= 0)
                dup2(err, 2);
            const int in = open("/dev/null", O_RDONLY);
            if (in >= 0)
                dup2(in, 0);
            execvpe(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(pipeFds[1]);
        FOut = pipeFds[0];
        return true;
    }

    // The next line of the child's output, or "" when none comes before the deadline or the
    // child closed its output.
    std::string ReadLine(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto newline = FBuffer.find('\n');
            if (newline != std::string::npos) {
                std::string line = FBuffer.substr(0, newline);
                FBuffer.erase(0, newline + 1);
                return line;
            }
            if (!ReadSome(deadline))
                return {};
        }
    }

    // What the child has written so far and not yet been taken.
    std::string TakeOutput() {
        while (ReadSome(std::chrono::steady_clock::now())) {
        }
        std::string taken = std::move(FBuffer);
        FBuffer.clear();
        return taken;
    }

    // Everything the child writes until it closes its output, then its exit code (-1: it did not
    // end before the deadline and was killed).
    int Finish(std::string& output, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline && ReadSome(deadline)) {
        }
        output = std::move(FBuffer);
        FBuffer.clear();
        return Wait(deadline);
    }

    // Ends the child: SIGTERM, up to 5 s to go, then SIGKILL.
    void Stop() {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            Wait(std::chrono::steady_clock::now() + std::chrono::seconds(5));
        }
        if (FOut >= 0)
            close(FOut);
        FOut = -1;
    }

    bool IsRunning() const { return FPid > 0 && waitpid(FPid, nullptr, WNOHANG) == 0; }
    pid_t Pid() const { return FPid; }

private:
    bool ReadSome(std::chrono::steady_clock::time_point deadline) {
        if (FOut < 0)
            return false;
        // Polls at least once, so a zero timeout still takes what is already there.
        const auto left = std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                     deadline - std::chrono::steady_clock::now())
                                                     .count());
        pollfd fd{FOut, POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            return true;
        if (ready <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = read(FOut, chunk, sizeof chunk);
        if (n <= 0) {
            close(FOut);
            FOut = -1;
            return false;
        }
        FBuffer.append(chunk, static_cast<size_t>(n));
        return true;
    }

    int Wait(std::chrono::steady_clock::time_point deadline) {
        if (FPid <= 0)
            return -1;
        int status = 0;
        for (;;) {
            const pid_t done = waitpid(FPid, &status, WNOHANG);
            if (done == FPid || (done < 0 && errno != EINTR))
                break;
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(FPid, SIGKILL);
                waitpid(FPid, &status, 0);
                FPid = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t FPid = -1;
    int FOut = -1;
    std::string FBuffer;
};

// Runs a command to its end (at most timeout) and gives its exit code and output.
inline int RunProgram(const std::vector<std::string>& args, std::string& output,
                      const TChildProcess::TEnv& env = {},
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    TChildProcess child;
    if (!child.Start(args, env))
        return -1;
    return child.Finish(output, timeout);
}

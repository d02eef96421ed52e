#pragma once
// Helpers for tests that run the real vardeld: start it on a configuration in a temporary folder,
// register a guard with it, run a program with a terminal as its stdin and stdout, and wait for
// conditions with a deadline.
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Polls cond every few milliseconds until it holds or timeoutMs passed.
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000);

class TVardeld {
public:
    // Writes config text to dir/vardeld.conf, starts vardeld with it and args (stderr to
    // dir/vardeld.log) and waits for its sockets under runDir.
    TVardeld(const std::string& dir, const std::string& runDir, const std::string& config,
             const std::vector<std::string>& args = {});
    ~TVardeld();
    TVardeld(const TVardeld&) = delete;
    TVardeld& operator=(const TVardeld&) = delete;
    bool Started() const { return FStarted; }
    pid_t Pid() const { return FPid; }
    // False once the service has ended by itself (its exit status is then collected).
    bool Running();
    std::string Log() const;
    void Signal(int sig);
    // SIGTERM, then the exit status (-1 when it did not end in time).
    int Stop();
    void Rewrite(const std::string& config);

private:
    std::string FDir;
    pid_t FPid = -1;
    bool FStarted = false;
};

// Registers hookSocket with the service's control socket; the returned descriptor keeps the
// registration alive until closed. -1 on failure.
int RegisterGuard(const std::string& controlSocket, const std::string& hookSocket,
                  std::string* reply = nullptr);

// Runs argv with the terminal at ttyPath as stdin and stdout, stderr to errPath; returns the exit
// code, or -1 if it did not end within timeoutMs (it is killed then).
int RunOnTerminal(const std::vector<std::string>& argv, const std::string& ttyPath,
                  const std::string& errPath, int timeoutMs = 15000);
// The same on a terminal the caller holds open.
int RunOnTerminalFd(const std::vector<std::string>& argv, int tty, const std::string& errPath,
                    int timeoutMs = 15000);

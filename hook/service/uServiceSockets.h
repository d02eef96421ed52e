#pragma once
// The service's two listening sockets. The control socket takes guard registrations:
//   "REGISTER <hook socket path>\n" -> "OK\n" or "ERR <reason>\n"
// and the registration lasts while that connection stays open. The line feed publishes the modem
// lines and their call states (see uLineFeedProtocol.h) to every subscriber.
#include "platform/linux/uLineFeedProtocol.h"
#include "uGuardRegistry.h"
#include "uPollLoop.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

// Creates a listening Unix stream socket at path with the given mode; -1 with why on failure.
int ListenUnix(const std::string& path, mode_t mode, std::string* why);

// A listening socket that the loop watches for connections; closed and its path removed on
// destruction.
class TUnixListener {
public:
    explicit TUnixListener(TPollLoop& loop) : FLoop(loop) {}
    ~TUnixListener();
    TUnixListener(const TUnixListener&) = delete;
    TUnixListener& operator=(const TUnixListener&) = delete;
    // Anyone may connect (mode 0666); onAccept gets each accepted connection (non-blocking).
    bool Listen(const std::string& path, std::function<void(int fd)> onAccept, std::string* why);

private:
    TPollLoop& FLoop;
    int FFd = -1;
    std::string FPath;
};

class TControlServer {
public:
    TControlServer(TPollLoop& loop, TGuardRegistry& guards, std::function<void(const std::string&)> log);
    ~TControlServer();
    bool Listen(const std::string& path, std::string* why);

private:
    struct TClient {
        std::string In;
        std::vector<std::uint64_t> Registrations;
        pid_t Pid = 0;
        uid_t Uid = 0;
    };
    void OnAccept(int fd);
    void OnClient(int fd);
    void Drop(int fd);
    std::size_t UserRegistrations(uid_t uid) const;

    TPollLoop& FLoop;
    TGuardRegistry& FGuards;
    std::function<void(const std::string&)> FLog;
    TUnixListener FListener{FLoop};
    std::map<int, TClient> FClients;
};

class TLineFeed {
public:
    // current: the call in progress on each line (call 0 = none), sent to a subscriber on connecting.
    using TCurrentStates = std::function<std::vector<qm::TFeedCallState>()>;
    TLineFeed(TPollLoop& loop, TCurrentStates current);
    ~TLineFeed();
    bool Listen(const std::string& path, std::string* why);
    void SetLines(std::vector<qm::TFeedLine> lines) { FLines = std::move(lines); }
    void Publish(const qm::TFeedCallState& state);
    std::size_t Subscribers() const { return FClients.size(); }

private:
    void OnAccept(int fd);
    void Send(int fd, const std::string& text);
    void Drop(int fd);

    TPollLoop& FLoop;
    TCurrentStates FCurrent;
    TUnixListener FListener{FLoop};
    std::vector<qm::TFeedLine> FLines;
    std::map<int, std::string> FClients; // fd -> bytes not yet written
};

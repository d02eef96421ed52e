#pragma once
// A small HTTP server on 127.0.0.1 for tests: one connection at a time on its own thread, each
// request answered by the test's handler with a whole body or a body written piece by piece (slow
// or endless bodies). Every request is recorded.
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

struct TTestRequest {
    std::string Method;
    std::string Target;  // path and query
    std::string Version; // "HTTP/1.0"
    std::string Head;    // the request line and headers
    std::string Body;
    std::string Header(const std::string& name) const {
        std::size_t pos = 0;
        while ((pos = Head.find("\r\n", pos)) != std::string::npos) {
            pos += 2;
            const std::size_t colon = Head.find(':', pos);
            const std::size_t end = Head.find("\r\n", pos);
            if (colon == std::string::npos || colon > end)
                continue;
            std::string key = Head.substr(pos, colon - pos);
            bool same = key.size() == name.size();
            for (std::size_t i = 0; same && i < key.size(); ++i)
                same = std::tolower(static_cast<unsigned char>(key[i])) ==
                       std::tolower(static_cast<unsigned char>(name[i]));
            if (same) {
                std::size_t v = colon + 1;
                while (v < end && Head[v] == ' ')
                    ++v;
                return Head.substr(v, end - v);
            }
        }
        return {};
    }
};

struct TTestReply {
    int Status = 200;
    std::string Body;
    std::string ContentType = "text/plain";
    // When set, writes the body itself after the head (no Content-Length); returns when done.
    // send() it with MSG_NOSIGNAL; stop when Stopping() is true or a send fails.
    std::function<void(int fd, const std::atomic<bool>& stopping)> Stream;
};

class TTestHttpServer {
public:
    using THandler = std::function<TTestReply(const TTestRequest&)>;

    explicit TTestHttpServer(THandler handler) : FHandler(std::move(handler)) {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(FListen, 16) != 0)
            throw std::runtime_error("test server: cannot listen");
        socklen_t len = sizeof addr;
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
        FPort = ntohs(addr.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TTestHttpServer() {
        FStopping = true;
        FThread.join();
        ::close(FListen);
    }
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    int Port() const { return FPort; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(FPort) + path;
    }
    std::vector<TTestRequest> Requests() const {
        const std::lock_guard<std::mutex> guard(FLock);
        return FRequests;
    }

    // A port on which nothing listens.
    static int DeadPort() {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
        ::close(s);
        return ntohs(addr.sin_port);
    }

    static bool SendAll(int fd, const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    void Serve() {
        while (!FStopping) {
            pollfd p{FListen, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            Handle(fd);
            ::close(fd);
        }
    }

    bool ReadSome(int fd, std::string& buffer) {
        for (int waited = 0; waited < 5000 && !FStopping; waited += 20) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char chunk[65536];
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    return false;
                buffer.append(chunk, static_cast<std::size_t>(n));
                return true;
            }
        }
        return false;
    }

    void Handle(int fd) {
        std::string data;
        std::size_t headEnd;
        while ((headEnd = data.find("\r\n\r\n")) == std::string::npos)
            if (!ReadSome(fd, data))
                return;
        TTestRequest request;
        request.Head = data.substr(0, headEnd);
        const std::string line = request.Head.substr(0, request.Head.find("\r\n"));
        const std::size_t s1 = line.find(' '), s2 = line.rfind(' ');
        request.Method = line.substr(0, s1);
        request.Target = line.substr(s1 + 1, s2 - s1 - 1);
        request.Version = line.substr(s2 + 1);
        const std::string lengthText = request.Header("Content-Length");
        const std::size_t length = lengthText.empty() ? 0 : std::stoul(lengthText);
        request.Body = data.substr(headEnd + 4);
        while (request.Body.size() < length)
            if (!ReadSome(fd, request.Body))
                return;
        {
            const std::lock_guard<std::mutex> guard(FLock);
            FRequests.push_back(request);
        }
        const TTestReply reply = FHandler(request);
        std::string head =
            "HTTP/1.0 " + std::to_string(reply.Status) + " X\r\nContent-Type: " + reply.ContentType + "\r\n";
        if (!reply.Stream)
            head += "Content-Length: " + std::to_string(reply.Body.size()) + "\r\n";
        head += "\r\n";
        if (!SendAll(fd, head))
            return;
        if (reply.Stream)
            reply.Stream(fd, FStopping);
        else
            SendAll(fd, reply.Body);
    }

    THandler FHandler;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStopping{false};
    mutable std::mutex FLock;
    std::vector<TTestRequest> FRequests;
    std::thread FThread;
};

#include "StandInGuard.h"

#include "core/uHookFrame.h"

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool ReadExact(int fd, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        ssize_t r = ::recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

} // namespace

TStandInGuard::TStandInGuard(std::string socketPath, THandler handler)
    : FPath(std::move(socketPath)), FHandler(std::move(handler)) {
    ::unlink(FPath.c_str());
    FListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, FPath.c_str(), sizeof(addr.sun_path) - 1);
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(FListen, 64) != 0)
        throw std::runtime_error("stand-in guard cannot listen on " + FPath);
    if (::pipe2(FWake, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    FThread = std::thread([this] { Run(); });
}

TStandInGuard::~TStandInGuard() {
    Stop();
    ::close(FWake[0]);
    ::close(FWake[1]);
}

void TStandInGuard::Stop() {
    if (FStopping.exchange(true))
        return;
    char c = 0;
    (void)!::write(FWake[1], &c, 1);
    FThread.join();
    ::close(FListen);
    ::unlink(FPath.c_str());
    std::vector<TClient> clients;
    {
        std::lock_guard lock(FMutex);
        clients.swap(FClients);
    }
    for (auto& c : clients)
        c.Thread.join();
}

std::vector<TStandInFrame> TStandInGuard::Frames() const {
    std::lock_guard lock(FMutex);
    return FFrames;
}

std::size_t TStandInGuard::FrameCount() const {
    std::lock_guard lock(FMutex);
    return FFrames.size();
}

void TStandInGuard::Run() {
    for (;;) {
        pollfd p[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0)
            continue;
        if (p[1].revents)
            return;
        int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(FMutex);
        std::erase_if(FClients, [](TClient& c) {
            if (!c.Done->load())
                return false;
            c.Thread.join();
            return true;
        });
        auto done = std::make_shared<std::atomic<bool>>(false);
        FClients.push_back({std::thread([this, fd, done] {
                                Serve(fd);
                                done->store(true);
                            }),
                            done});
    }
}

void TStandInGuard::Serve(int fd) {
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        ::poll(p, 2, -1);
        if (p[1].revents || !(p[0].revents))
            break;
        std::uint8_t header[qm::kHookHeaderSize];
        if (!ReadExact(fd, header, sizeof(header)))
            break;
        qm::THookFrameHeader h = qm::DecodeHookFrameHeader(header);
        TStandInFrame frame;
        frame.DwData = h.DwData;
        frame.Payload.resize(h.CbData);
        if (h.CbData > qm::kMaxHookFrame || !ReadExact(fd, frame.Payload.data(), h.CbData))
            break;
        {
            std::lock_guard lock(FMutex);
            FFrames.push_back(frame);
        }
        std::optional<std::int32_t> result = FHandler(frame);
        if (!result)
            break;
        auto bytes = qm::EncodeHookResult(*result);
        if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != 4)
            break;
    }
    ::close(fd);
}

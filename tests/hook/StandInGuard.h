#pragma once
// A stand-in guard for hook-side tests: a Unix-socket server on its own thread that reads frames and
// answers each with the Result its handler returns (or closes without answering when it says so).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct TStandInFrame {
    std::uint32_t DwData = 0;
    std::vector<std::uint8_t> Payload;
};

class TStandInGuard {
public:
    // nullopt from the handler = close the connection without answering.
    using THandler = std::function<std::optional<std::int32_t>(const TStandInFrame&)>;

    TStandInGuard(std::string socketPath, THandler handler);
    ~TStandInGuard();
    TStandInGuard(const TStandInGuard&) = delete;
    TStandInGuard& operator=(const TStandInGuard&) = delete;

    const std::string& Path() const { return FPath; }
    std::vector<TStandInFrame> Frames() const;
    std::size_t FrameCount() const;
    // Stops listening and removes the socket file; later connects find no guard.
    void Stop();

private:
    void Run();
    void Serve(int fd);

    std::string FPath;
    THandler FHandler;
    int FListen = -1;
    int FWake[2] = {-1, -1};
    std::thread FThread;
    mutable std::mutex FMutex;
    std::vector<TStandInFrame> FFrames;
    // One thread a connection; finished ones are joined at the next accept, so a long run (the
    // modem soak asks tens of thousands of questions) does not pile up threads.
    struct TClient {
        std::thread Thread;
        std::shared_ptr<std::atomic<bool>> Done;
    };
    std::vector<TClient> FClients;
    std::atomic<bool> FStopping{false};
};

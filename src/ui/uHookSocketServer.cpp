#include "ui/uHookSocketServer.h"

#include "core/uHookFrame.h"
#include "util/uQmError.h"

#include "ui/uReadinessWatch.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

// While a frame of a connection is being decided, more of its bytes are taken in only up to this
// much; then reading pauses until the decision is made.
constexpr std::size_t kMaxPendingInput = qm::kMaxHookFrame + qm::kHookHeaderSize + 64 * 1024;

} // namespace

struct THookSocketServer::TConnection {
    int Id = 0;
    THookHandle Handle = kNoHookHandle;
    TReadinessWatch* ReadNotifier = nullptr;
    TReadinessWatch* WriteNotifier = nullptr;
    std::vector<std::uint8_t> In;
    std::vector<std::uint8_t> Out;
    std::uint64_t Skip = 0; // bytes of an oversized frame still to be dropped
    bool Busy = false;      // a frame of this connection is being decided
    bool PeerDone = false;  // the sender will send nothing more
    bool Dead = false;      // closed; nothing more is read or written
};

THookSocketServer::THookSocketServer(std::string socketPath, THookDispatcher& dispatcher,
                                     IHookEndpoint& endpoint, QObject* parent)
    : QObject(parent), FSocketPath(std::move(socketPath)), FDispatcher(dispatcher), FEndpoint(endpoint) {
    if (!FDispatcher.OnProblem)
        FDispatcher.OnProblem = [this](const std::string& text) {
            Log(text + "; answered 0");
        };
}

THookSocketServer::~THookSocketServer() {
    Close();
}

void THookSocketServer::Close() {
    while (!FConnections.empty())
        CloseConnection(FConnections.begin()->first);
    if (FListener != kNoHookHandle) {
        FListenWatch->SetEnabled(false);
        FListenWatch->deleteLater();
        FListenWatch = nullptr;
        FEndpoint.StopListening(std::exchange(FListener, kNoHookHandle), FSocketPath);
    }
}

bool THookSocketServer::Listen() {
    try {
        FListener = FEndpoint.Listen(FSocketPath);
    } catch (const EQmError& e) {
        FErrorText = e.what();
        return false;
    }
    FListenWatch = new TReadinessWatch(
        FListener, TReadinessWatch::TReadiness::rdRead, [this] { AcceptConnections(); }, this);
    return true;
}

void THookSocketServer::AcceptConnections() {
    for (;;) {
        THookHandle handle = kNoHookHandle;
        try {
            handle = FEndpoint.Accept(FListener);
        } catch (const EQmError& e) {
            Log(e.what());
            return;
        }
        if (handle == kNoHookHandle)
            return;
        auto connection = std::make_shared<TConnection>();
        connection->Id = FNextId++;
        connection->Handle = handle;
        const int id = connection->Id;
        connection->ReadNotifier = new TReadinessWatch(
            handle, TReadinessWatch::TReadiness::rdRead, [this, id] { ReadConnection(id); }, this);
        connection->WriteNotifier = new TReadinessWatch(
            handle, TReadinessWatch::TReadiness::rdWrite,
            [this, id] {
                auto it = FConnections.find(id);
                if (it != FConnections.end())
                    FlushOutput(std::shared_ptr<TConnection>(it->second));
            },
            this);
        connection->WriteNotifier->SetEnabled(false);
        FConnections[id] = std::move(connection);
    }
}

void THookSocketServer::ReadConnection(int id) {
    auto it = FConnections.find(id);
    if (it == FConnections.end())
        return;
    const std::shared_ptr<TConnection> connection = it->second; // kept alive across nested loops
    std::uint8_t buffer[16 * 1024];
    while (!connection->PeerDone && connection->In.size() < kMaxPendingInput) {
        const THookIoResult read = FEndpoint.Read(connection->Handle, buffer);
        if (read.Status == THookIoStatus::hiosDone) {
            connection->In.insert(connection->In.end(), buffer, buffer + read.Count);
            continue;
        }
        if (read.Status == THookIoStatus::hiosWouldBlock)
            break;
        // End of input or a reset: frames already in are still decided, their answers may not
        // arrive. The notifier goes off so an open prompt's loop does not spin on the closed end.
        connection->PeerDone = true;
    }
    connection->ReadNotifier->SetEnabled(!connection->PeerDone && connection->In.size() < kMaxPendingInput);
    if (!connection->Busy)
        ServeFrames(connection);
}

void THookSocketServer::ServeFrames(const std::shared_ptr<TConnection>& connection) {
    auto& in = connection->In;
    while (!connection->Busy && !connection->Dead) {
        if (connection->Skip > 0) {
            const std::size_t drop =
                static_cast<std::size_t>(std::min<std::uint64_t>(connection->Skip, in.size()));
            in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(drop));
            connection->Skip -= drop;
            if (connection->Skip > 0)
                break;
        }
        if (in.size() < qm::kHookHeaderSize)
            break;
        std::uint8_t header[qm::kHookHeaderSize];
        std::copy_n(in.begin(), qm::kHookHeaderSize, header);
        const qm::THookFrameHeader frame = qm::DecodeHookFrameHeader(header);
        if (frame.CbData > qm::kMaxHookFrame) {
            Log("frame of kind " + std::to_string(frame.DwData) + " with " + std::to_string(frame.CbData) +
                " bytes is above the limit; skipped and answered 0");
            in.erase(in.begin(), in.begin() + qm::kHookHeaderSize);
            connection->Skip = frame.CbData;
            Answer(connection, 0);
            continue;
        }
        if (in.size() < qm::kHookHeaderSize + frame.CbData)
            break;
        const std::vector<std::uint8_t> record(in.begin() + qm::kHookHeaderSize,
                                               in.begin() + qm::kHookHeaderSize + frame.CbData);
        in.erase(in.begin(), in.begin() + qm::kHookHeaderSize + frame.CbData);
        std::int32_t result = 0;
        connection->Busy = true;
        try {
            result = FDispatcher.Dispatch(frame.DwData, record);
        } catch (const std::exception& e) {
            Log(std::string("handler failed: ") + e.what() + "; answered 0");
            if (OnHandlerError)
                OnHandlerError(e.what());
        } catch (...) {
            Log("handler failed; answered 0");
        }
        connection->Busy = false;
        Answer(connection, result);
    }
    if (connection->Dead)
        return;
    if (!connection->PeerDone)
        connection->ReadNotifier->SetEnabled(in.size() < kMaxPendingInput);
    if (connection->PeerDone && !connection->Busy) {
        if (!in.empty() && connection->Skip == 0)
            Log("sender left in the middle of a frame (" + std::to_string(in.size()) + " bytes)");
        if (connection->Out.empty())
            CloseConnection(connection->Id);
    }
}

void THookSocketServer::Answer(const std::shared_ptr<TConnection>& connection, std::int32_t result) {
    if (connection->Dead)
        return;
    const auto bytes = qm::EncodeHookResult(result);
    connection->Out.insert(connection->Out.end(), bytes.begin(), bytes.end());
    FlushOutput(connection);
}

void THookSocketServer::FlushOutput(const std::shared_ptr<TConnection>& connection) {
    auto& out = connection->Out;
    while (!out.empty() && !connection->Dead) {
        const THookIoResult written = FEndpoint.Write(connection->Handle, out);
        if (written.Status == THookIoStatus::hiosDone) {
            out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(written.Count));
            continue;
        }
        if (written.Status == THookIoStatus::hiosWouldBlock) {
            connection->WriteNotifier->SetEnabled(true);
            return;
        }
        // The sender is gone: its answer has no one to go to. Nobody else is affected.
        out.clear();
        if (!connection->Busy)
            CloseConnection(connection->Id);
        else
            connection->PeerDone = true;
        return;
    }
    if (!connection->Dead) {
        connection->WriteNotifier->SetEnabled(false);
        if (connection->PeerDone && !connection->Busy && connection->In.size() < qm::kHookHeaderSize)
            CloseConnection(connection->Id);
    }
}

void THookSocketServer::CloseConnection(int id) {
    auto it = FConnections.find(id);
    if (it == FConnections.end())
        return;
    const std::shared_ptr<TConnection> connection = it->second;
    FConnections.erase(it);
    connection->Dead = true;
    connection->ReadNotifier->SetEnabled(false);
    connection->WriteNotifier->SetEnabled(false);
    // Deferred: the notifier may be the one whose signal is being delivered right now.
    connection->ReadNotifier->deleteLater();
    connection->WriteNotifier->deleteLater();
    FEndpoint.CloseConnection(connection->Handle);
}

void THookSocketServer::Log(const std::string& text) const {
    std::fprintf(stderr, "QmVardel: hook socket %s: %s\n", FSocketPath.c_str(), text.c_str());
}

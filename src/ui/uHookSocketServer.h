#pragma once
// The guard's hook socket, the Linux stand-in for the hook library's WM_COPYDATA messages: a Unix
// stream socket in the user's runtime folder. Each frame ("u32 dwData, u32 cbData, cbData bytes",
// little-endian) is answered with one little-endian i32 Result after its decision, in order per
// connection. It is served on the UI thread from the event loop, so frames keep being decided
// while a modal prompt is open; a connection waits for its own earlier frame's answer first.
// The OS side (folder, socket, reads and writes) is the hook endpoint port; this class only
// watches its handles, assembles frames and dispatches them.
//
// Safety: the endpoint keeps the folder private and refuses another user's socket; frames above
// kMaxHookFrame are answered 0 and skipped unread, records shorter than their layout answered 0;
// all of these are logged to stderr and the connection stays usable.
#include "core/uHookDispatch.h"
#include "platform/IHookEndpoint.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class TReadinessWatch;

class THookSocketServer : public QObject {
public:
    // Over the given endpoint, which outlives the server.
    THookSocketServer(std::string socketPath, THookDispatcher& dispatcher, IHookEndpoint& endpoint,
                      QObject* parent = nullptr);
    ~THookSocketServer() override;

    // Creates the folder if needed, checks it and the socket file, and listens. False with
    // ErrorText() set when it cannot.
    bool Listen();
    // Stops listening and closes every connection; a frame being decided gets no answer.
    void Close();
    const std::string& ErrorText() const { return FErrorText; }
    const std::string& SocketPath() const { return FSocketPath; }
    bool IsListening() const { return FListener != kNoHookHandle; }
    std::size_t ConnectionCount() const { return FConnections.size(); }

    // Called with a handler's error (the event's handling ends; the shell shows it); the frame is
    // answered 0 as no decision was made.
    std::function<void(const std::string&)> OnHandlerError;

private:
    struct TConnection;

    void AcceptConnections();
    void ReadConnection(int id);
    void ServeFrames(const std::shared_ptr<TConnection>& connection);
    void Answer(const std::shared_ptr<TConnection>& connection, std::int32_t result);
    void FlushOutput(const std::shared_ptr<TConnection>& connection);
    void CloseConnection(int id);
    void Log(const std::string& text) const;

    std::string FSocketPath;
    THookDispatcher& FDispatcher;
    IHookEndpoint& FEndpoint;
    std::string FErrorText;
    THookHandle FListener = kNoHookHandle;
    TReadinessWatch* FListenWatch = nullptr;
    std::map<int, std::shared_ptr<TConnection>> FConnections;
    int FNextId = 1;
};

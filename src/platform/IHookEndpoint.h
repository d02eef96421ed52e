#pragma once
// Port: the guard's hook endpoint, a local stream server that only this user may reach (on Linux a
// Unix socket in a private folder). Everything is non-blocking: the caller waits for readiness on
// the handles in its own event loop and then takes or gives what is available.
//
// Safety rules the implementation owns: the folder is ours and private, an endpoint of another
// user is refused and never removed, one that another guard still answers on is refused, a stale
// one of ours is replaced.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// A listening endpoint or one connection: a descriptor the event loop can watch.
using THookHandle = std::intptr_t;
inline constexpr THookHandle kNoHookHandle = -1;

enum class THookIoStatus {
    hiosDone,       // Count bytes were moved
    hiosWouldBlock, // nothing now; wait for readiness
    hiosClosed,     // the other end is gone (end of input, reset); nothing more will move
};

struct THookIoResult {
    THookIoStatus Status = THookIoStatus::hiosClosed;
    std::size_t Count = 0;
};

class IHookEndpoint {
public:
    virtual ~IHookEndpoint() = default;
    // Prepares the folder, checks what is already at path, and listens there. Throws EQmError
    // with the reason when it cannot.
    virtual THookHandle Listen(const std::string& path) = 0;
    // The next waiting connection, or kNoHookHandle when none waits. Throws EQmError when
    // accepting fails otherwise (the listener stays usable).
    virtual THookHandle Accept(THookHandle listener) = 0;
    virtual THookIoResult Read(THookHandle connection, std::span<std::uint8_t> buffer) = 0;
    virtual THookIoResult Write(THookHandle connection, std::span<const std::uint8_t> bytes) = 0;
    virtual void CloseConnection(THookHandle connection) = 0;
    // Closes the listener and removes the endpoint at path, so a later guard finds nothing stale.
    virtual void StopListening(THookHandle listener, const std::string& path) = 0;
};

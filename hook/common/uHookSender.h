#pragma once
// The hook side's blocking frame sender: connects to a guard's hook socket, sends one frame
// ("u32 dwData, u32 cbData, bytes", little-endian) and waits for its one i32 Result.
//
// Used by the hook client (vardel-hook) and by the hook service wherever one request at a time is
// enough. The API is shared by several programs: keep it stable.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qm {

// Why a send produced no Result.
enum class THookSendFailure {
    hsfNone,     // a Result arrived
    hsfNoGuard,  // nothing listens on the path (missing socket file, connection refused)
    hsfTimeout,  // the guard took longer than timeoutMs to answer
    hsfClosed,   // the guard closed the connection before answering
    hsfTooLarge, // the payload is above kMaxHookFrame and was not sent
    hsfIo,       // any other failure (path too long, not a socket, read or write error)
};

// Sends one frame to the Unix stream socket at socketPath and returns the guard's Result.
// timeoutMs bounds the whole exchange (connect, send, answer); a negative value waits for as long
// as the guard needs (a prompt may stay open for minutes). On failure returns nullopt, and when
// given, *error receives a readable reason and *failure its kind; on success *failure is hsfNone.
// SIGPIPE is never raised: a guard that vanishes mid-send is reported as hsfClosed.
std::optional<std::int32_t> SendHookFrame(const std::string& socketPath, std::uint32_t dwData,
                                          std::span<const std::uint8_t> payload, int timeoutMs,
                                          std::string* error, THookSendFailure* failure = nullptr);

} // namespace qm

#pragma once
// The hook endpoint on Linux: a Unix stream socket (0600) in a folder of ours kept at 0700.
// Handles are file descriptors, non-blocking and close-on-exec.
#include "platform/IHookEndpoint.h"

class TLinuxHookEndpoint : public IHookEndpoint {
public:
    THookHandle Listen(const std::string& path) override;
    THookHandle Accept(THookHandle listener) override;
    THookIoResult Read(THookHandle connection, std::span<std::uint8_t> buffer) override;
    THookIoResult Write(THookHandle connection, std::span<const std::uint8_t> bytes) override;
    void CloseConnection(THookHandle connection) override;
    void StopListening(THookHandle listener, const std::string& path) override;
};

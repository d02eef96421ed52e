#pragma once
// A recording fake of the hook endpoint: listening fails with ListenError when set, else hands out
// ListenHandle (give it a descriptor the event loop can watch); no connection ever arrives.
#include "platform/IHookEndpoint.h"
#include "util/uQmError.h"

#include <optional>
#include <string>
#include <vector>

class TFakeHookEndpoint : public IHookEndpoint {
public:
    std::optional<std::string> ListenError;
    THookHandle ListenHandle = kNoHookHandle;
    std::vector<std::string> Listened;
    std::vector<std::string> Stopped;

    THookHandle Listen(const std::string& path) override {
        Listened.push_back(path);
        if (ListenError)
            throw EQmError(*ListenError);
        return ListenHandle;
    }
    THookHandle Accept(THookHandle) override { return kNoHookHandle; }
    THookIoResult Read(THookHandle, std::span<std::uint8_t>) override {
        return {THookIoStatus::hiosClosed, 0};
    }
    THookIoResult Write(THookHandle, std::span<const std::uint8_t>) override {
        return {THookIoStatus::hiosClosed, 0};
    }
    void CloseConnection(THookHandle) override {}
    void StopListening(THookHandle, const std::string& path) override { Stopped.push_back(path); }
};

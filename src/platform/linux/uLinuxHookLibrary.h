#pragma once
// The hook library on Linux: libVardelHk.so through dlopen, its export
// extern "C" int SetHooks(const char* companionPath).
#include "platform/IHookLibrary.h"

class TLinuxHookLibrary : public IHookLibrary {
public:
    TLinuxHookLibrary() = default;
    TLinuxHookLibrary(const TLinuxHookLibrary&) = delete;
    TLinuxHookLibrary& operator=(const TLinuxHookLibrary&) = delete;
    // The library stays loaded for the run: the hooks live as long as the program.
    ~TLinuxHookLibrary() override = default;

    bool Load(const std::string& path) override;
    std::optional<std::uint32_t> CallSetHooks(const std::string& companionPath) override;
    bool CallForgetStartAnswers() override;
    // dlerror's text of the last failure.
    const std::string& LastError() const { return FLastError; }

private:
    void* FHandle = nullptr;
    std::string FLastError;
};

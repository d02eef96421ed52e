#include "platform/linux/uLinuxHookLibrary.h"

#include <dlfcn.h>

bool TLinuxHookLibrary::Load(const std::string& path) {
    dlerror();
    FHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) {
        const char* e = dlerror();
        FLastError = e ? e : "dlopen failed";
    }
    return FHandle != nullptr;
}

std::optional<std::uint32_t> TLinuxHookLibrary::CallSetHooks(const std::string& companionPath) {
    if (!FHandle)
        return std::nullopt;
    dlerror();
    void* symbol = ::dlsym(FHandle, "SetHooks");
    if (!symbol) {
        const char* e = dlerror();
        FLastError = e ? e : "SetHooks not found";
        return std::nullopt;
    }
    using TSetHooks = int (*)(const char*);
    const auto setHooks = reinterpret_cast<TSetHooks>(symbol);
    return static_cast<std::uint32_t>(setHooks(companionPath.c_str()));
}

bool TLinuxHookLibrary::CallForgetStartAnswers() {
    if (!FHandle)
        return false;
    // An older library without the export remembers nothing.
    void* symbol = ::dlsym(FHandle, "ForgetStartAnswers");
    if (!symbol)
        return false;
    using TForget = bool (*)();
    return reinterpret_cast<TForget>(symbol)();
}

#pragma once
// A recording fake of the hook library: loads and SetHooks succeed unless told otherwise.
#include "platform/IHookLibrary.h"

#include <string>
#include <vector>

class TFakeHookLibrary : public IHookLibrary {
public:
    bool Loadable = true;
    bool HasExport = true;
    std::uint32_t Result = 1;
    std::vector<std::string> Loaded;
    std::vector<std::string> Calls;
    int Forgets = 0;
    bool CallForgetStartAnswers() override {
        ++Forgets;
        return true;
    }
    bool Load(const std::string& path) override {
        Loaded.push_back(path);
        return Loadable;
    }
    std::optional<std::uint32_t> CallSetHooks(const std::string& companion) override {
        if (!HasExport)
            return std::nullopt;
        Calls.push_back(companion);
        return Result;
    }
};

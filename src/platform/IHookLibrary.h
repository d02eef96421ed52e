#pragma once
// Port: the hook library outside the program, loaded once and kept for the run (no stop call).
#include <cstdint>
#include <optional>
#include <string>

class IHookLibrary {
public:
    virtual ~IHookLibrary() = default;
    // Loads the library from its file; false when it cannot be loaded.
    virtual bool Load(const std::string& path) = 0;
    // Calls the loaded library's SetHooks with the companion's full path and returns its raw
    // result; nothing when no library is loaded or it lacks the export.
    virtual std::optional<std::uint32_t> CallSetHooks(const std::string& companionPath) = 0;
    // Tells the hook service to forget the program-start answers it remembered for this guard
    // (after the database or the monitoring option changed); false when there is nobody to tell.
    virtual bool CallForgetStartAnswers() { return false; }
};

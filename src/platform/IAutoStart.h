#pragma once
// Port: the system-wide autostart store (on Windows the Run key under HKEY_LOCAL_MACHINE; on Linux
// the system autostart folder of the XDG desktops). Entries are named; each holds one command.
#include <optional>
#include <string>

class IAutoStart {
public:
    virtual ~IAutoStart() = default;
    // The command that starts program with one argument, written the way the store keeps it, so
    // that a stored command and a formatted one compare as texts.
    virtual std::string FormatCommand(const std::string& program, const std::string& argument) const = 0;
    // The command stored under name; nothing when there is none or the store cannot be read.
    virtual std::optional<std::string> ReadCommand(const std::string& name) const = 0;
    // Whether this user may change the store (opening it for full access).
    virtual bool CanChange() = 0;
    // Both return false when the store refuses the change.
    virtual bool WriteCommand(const std::string& name, const std::string& command) = 0;
    virtual bool DeleteCommand(const std::string& name) = 0;
};

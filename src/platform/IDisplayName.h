#pragma once
// Port: the name the desktop shows for a program file. On Linux: the Name of a desktop entry whose
// Exec resolves to the file, else the file name.
#include <string>

class IDisplayName {
public:
    virtual ~IDisplayName() = default;
    // Empty when the file has no display name of its own (the caller then shows the path).
    virtual std::string DisplayName(const std::string& path) const = 0;
};

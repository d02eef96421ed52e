#pragma once
// Port: facts about the running program's own file.
#include <string>

class IProgramImage {
public:
    virtual ~IProgramImage() = default;
    // Full path of the running executable (symbolic links resolved).
    virtual std::string ExecutablePath() const = 0;
    // The FileVersion text of the executable ("1.0.0.28"); raises EQmError when it cannot be read.
    virtual std::string FileVersion() const = 0;
};

#pragma once
// The one exception type of the project: a failure carrying the text that the user sees.
#include <stdexcept>
#include <string>

class EQmError : public std::runtime_error {
public:
    explicit EQmError(const std::string& message) : std::runtime_error(message) {}
};

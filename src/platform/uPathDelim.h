#pragma once
// The host's path rules, the one place the Qt-free layers learn them.
#include <string>
#include <string_view>

namespace qm {

#ifdef _WIN32
inline constexpr char PathDelim = '\\';
inline constexpr bool PathsIgnoreCase = true;
#else
inline constexpr char PathDelim = '/';
inline constexpr bool PathsIgnoreCase = false;
#endif

inline std::string IncludeTrailingPathDelimiter(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != PathDelim)
        out += PathDelim;
    return out;
}

inline std::string ExtractFileDir(std::string_view path) {
    const auto pos = path.find_last_of(PathDelim);
    return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos));
}

inline std::string ExtractFileName(std::string_view path) {
    const auto pos = path.find_last_of(PathDelim);
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

} // namespace qm

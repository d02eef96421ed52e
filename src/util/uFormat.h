#pragma once
// Type-safe printf-style formatting for the program's own texts: "%s" takes text, "%d" a signed and
// "%u" an unsigned integer, "%%" is a percent sign. A directive that does not match its argument,
// a missing argument or an unknown directive raises EQmError instead of reading garbage.
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace qm {

using TFormatArg = std::variant<std::int64_t, std::uint64_t, std::string>;

std::string FormatArgs(std::string_view format, const TFormatArg* args, std::size_t count);

template <class T> TFormatArg MakeFormatArg(const T& value) {
    if constexpr (std::is_same_v<T, bool>)
        return static_cast<std::int64_t>(value);
    else if constexpr (std::signed_integral<T>)
        return static_cast<std::int64_t>(value);
    else if constexpr (std::unsigned_integral<T>)
        return static_cast<std::uint64_t>(value);
    else
        return std::string(std::string_view(value));
}

template <class... A> std::string Format(std::string_view format, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return FormatArgs(format, nullptr, 0);
    } else {
        const TFormatArg packed[] = {MakeFormatArg(args)...};
        return FormatArgs(format, packed, sizeof...(A));
    }
}

} // namespace qm

#include "util/uFormat.h"

#include "util/uQmError.h"

namespace qm {

std::string FormatArgs(std::string_view format, const TFormatArg* args, std::size_t count) {
    auto fail = [format]() {
        throw EQmError("Format '" + std::string(format) + "' invalid or incompatible with argument");
    };
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 >= format.size())
            fail();
        const char d = format[++i];
        if (d == '%') {
            out += '%';
            continue;
        }
        if (next >= count)
            fail();
        const TFormatArg& arg = args[next++];
        switch (d) {
        case 's':
            if (!std::holds_alternative<std::string>(arg))
                fail();
            out += std::get<std::string>(arg);
            break;
        case 'd':
            if (std::holds_alternative<std::int64_t>(arg))
                out += std::to_string(std::get<std::int64_t>(arg));
            else if (std::holds_alternative<std::uint64_t>(arg))
                out += std::to_string(static_cast<std::int64_t>(std::get<std::uint64_t>(arg)));
            else
                fail();
            break;
        case 'u':
            if (std::holds_alternative<std::uint64_t>(arg))
                out += std::to_string(std::get<std::uint64_t>(arg));
            else if (std::holds_alternative<std::int64_t>(arg))
                out += std::to_string(static_cast<std::uint32_t>(std::get<std::int64_t>(arg)));
            else
                fail();
            break;
        default:
            fail();
        }
    }
    return out;
}

} // namespace qm

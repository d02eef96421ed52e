#include "update/uDatabaseCheck.h"

#include "detection/uSygnatureManager.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"

TDatabaseCheck CheckDatabaseText(std::string_view bytes) {
    TDatabaseCheck check;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 && c != '\t' && c != '\r' && c != '\n') {
            check.Problem = "to nie jest plik tekstowy";
            return check;
        }
    }
    // Read as the signature database reads it; a UTF-8 file (the usual case) without a copy.
    std::string decoded;
    std::string_view text = bytes;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    if (!qm::IsValidUtf8(text)) {
        decoded = qm::Windows1250ToUtf8(text);
        text = decoded;
    }
    std::size_t signatures = 0;
    std::size_t malformed = 0;
    bool firstLine = true;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
        if (text.starts_with("\r\n"))
            text.remove_prefix(2);
        else if (!text.empty())
            text.remove_prefix(1);
        if (firstLine && line.starts_with('[')) {
            check.Version = std::string(line.substr(1, line.size() >= 2 ? line.size() - 2 : 0));
        } else if (!qm::Trim(line).empty()) {
            ++signatures;
            if (!qm::SygnatureLineProblem(line).empty())
                ++malformed;
        }
        firstLine = false;
    }
    if (signatures == 0)
        check.Problem = "plik nie zawiera sygnatur";
    else if (malformed * 2 > signatures)
        check.Problem = qm::Format("większość wierszy (%u z %u) to nie sygnatury", malformed, signatures);
    else
        check.Ok = true;
    return check;
}

namespace qm {

int CompareVersions(std::string_view a, std::string_view b) {
    auto next = [](std::string_view& s) {
        const std::size_t dot = s.find('.');
        const std::string_view part = s.substr(0, dot);
        s = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
        return part;
    };
    auto isNumber = [](std::string_view p) {
        return !p.empty() && p.find_first_not_of("0123456789") == std::string_view::npos;
    };
    bool aLeft = !a.empty(), bLeft = !b.empty();
    while (aLeft || bLeft) {
        if (!aLeft)
            return -1;
        if (!bLeft)
            return 1;
        std::string_view pa = next(a), pb = next(b);
        aLeft = a.data() != nullptr && !a.empty();
        bLeft = b.data() != nullptr && !b.empty();
        if (isNumber(pa) && isNumber(pb)) {
            while (pa.size() > 1 && pa.front() == '0')
                pa.remove_prefix(1);
            while (pb.size() > 1 && pb.front() == '0')
                pb.remove_prefix(1);
            if (pa.size() != pb.size())
                return pa.size() < pb.size() ? -1 : 1;
        }
        if (const int c = pa.compare(pb); c != 0)
            return c < 0 ? -1 : 1;
    }
    return 0;
}

} // namespace qm

#include "update/uDatabaseCheck.h"

#include "detection/uSygnatureManager.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"

#include <vector>

TDatabaseCheck CheckDatabaseText(std::string_view bytes) {
    TDatabaseCheck check;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 && c != '\t' && c != '\r' && c != '\n') {
            check.Problem = "to nie jest plik tekstowy";
            return check;
        }
    }
    const std::vector<std::string> lines = qm::SplitLines(qm::DecodeLegacyText(bytes));
    std::size_t first = 0;
    if (!lines.empty() && lines[0].starts_with('[')) {
        const std::string& v = lines[0];
        check.Version = v.substr(1, v.size() >= 2 ? v.size() - 2 : 0);
        first = 1;
    }
    std::size_t signatures = 0;
    std::size_t malformed = 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (qm::Trim(lines[i]).empty())
            continue;
        ++signatures;
        if (!qm::SygnatureLineProblem(lines[i]).empty())
            ++malformed;
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

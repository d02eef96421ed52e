#include "util/uWildcard.h"

#include "util/libStrUtilsQmPack.h"

namespace qm {

bool MatchesMask(std::string_view name, std::string_view mask) {
    if (mask == "*.*")
        mask = "*";
    // Greedy matching with one back-tracking point: linear in practice, never exponential.
    std::size_t n = 0, m = 0;
    std::size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        // A "*" of the mask is always a wildcard, even facing a "*" in the name (a legal file name
        // character on Linux).
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || LowerAscii(mask[m]) == LowerAscii(name[n]))) {
            ++n, ++m;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

} // namespace qm

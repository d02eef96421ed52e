#pragma once
// File-name masks with the Windows rules: "*" matches any run of characters (the dot included, so
// "*exe" matches "foo.exe" and "fooexe"), "?" one character, letters compare without case, and
// "*.*" matches every name.
#include <string_view>

namespace qm {

bool MatchesMask(std::string_view name, std::string_view mask);

} // namespace qm

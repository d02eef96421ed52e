#pragma once
// What a received signature database must be before it replaces the installed one: text, with
// signature lines that are mostly well formed, and (when the program has a public key) signed and
// not older than the installed database.
#include <string>
#include <string_view>

struct TDatabaseCheck {
    bool Ok = false;
    std::string Version; // of the "[version]" line; empty when there is none
    std::string Problem; // why it is refused (Polish)
};

// Reads the database text as the signature database does and judges it.
TDatabaseCheck CheckDatabaseText(std::string_view bytes);

namespace qm {
// Compares dotted versions part by part: numbers as numbers, other parts as text; a missing part
// is lower than any present one ("1.2" < "1.2.1"). Negative, zero or positive like strcmp.
int CompareVersions(std::string_view a, std::string_view b);
} // namespace qm

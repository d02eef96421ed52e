#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"
#include "util/uQmError.h"
#include "util/uWildcard.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace qm;

TEST(StrUtils, TrimRemovesEveryCharacterAtOrBelowBlank) {
    EXPECT_EQ(Trim(std::string("\t\r\n \x01"
                               "a b\x1f \0",
                               10)),
              "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x "), "  x");
}

TEST(StrUtils, CaseFoldingIsAsciiOnly) {
    EXPECT_EQ(LowerAscii("ABC-Ż"), "abc-Ż");
    EXPECT_TRUE(SameText("0700ABC", "0700abc"));
    EXPECT_FALSE(SameText("Ż", "ż"));
    EXPECT_FALSE(SameText("ab", "abc"));
    EXPECT_EQ(UpperAscii("abc-ż"), "ABC-ż");
    EXPECT_EQ(UpperAscii('q'), 'Q');
    EXPECT_EQ(UpperAscii('\xB3'), '\xB3');
}

TEST(StrUtils, HexDigitsReadInEitherCaseAndWriteUpperCase) {
    const std::pair<char, int> rows[] = {{'0', 0},  {'9', 9},  {'a', 10},  {'F', 15},
                                         {'g', -1}, {'G', -1}, {'/', -1},  {':', -1},
                                         {'@', -1}, {'`', -1}, {'\0', -1}, {'\xC1', -1}};
    for (const auto& [c, value] : rows)
        EXPECT_EQ(HexDigitValue(c), value) << int(static_cast<unsigned char>(c));
    std::string out = "x";
    AppendHexByte(out, 0x00);
    AppendHexByte(out, 0xAF);
    AppendHexByte(out, 0x7F);
    EXPECT_EQ(out, "x00AF7F");
}

TEST(Wildcard, FollowsTheWindowsRules) {
    struct Row {
        const char* name;
        const char* mask;
        bool match;
    } rows[] = {
        {"foo.exe", "*exe", true},
        {"fooexe", "*exe", true},
        {"A.EXE", "*exe", true},
        {"a.ex", "*exe", false},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"noext", "*.*", true},
        {"x.y.z", "*.z", true},
        {"", "*", true},
        {"aaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*b", true},
        // A "*" in a Linux file name once matched the mask's "*" literally and stopped the search.
        {"*x.exe", "*.exe", true},
        {"a*b.exe", "a*.exe", true},
        {"*", "a", false},
        {"?x", "*x", true},
    };
    for (const Row& r : rows)
        EXPECT_EQ(MatchesMask(r.name, r.mask), r.match) << r.name << " ~ " << r.mask;
}

// Every answer equals that of the plain dynamic-programming matcher, on names and masks built
// from the characters that matter (the name may hold "*" and "?" too).
TEST(Wildcard, AgreesWithAReferenceMatcherOnGeneratedInput) {
    const auto reference = [](const std::string& name, std::string mask) {
        if (mask == "*.*")
            mask = "*";
        std::vector<std::vector<bool>> m(name.size() + 1, std::vector<bool>(mask.size() + 1));
        m[0][0] = true;
        for (std::size_t j = 1; j <= mask.size(); ++j)
            m[0][j] = m[0][j - 1] && mask[j - 1] == '*';
        for (std::size_t i = 1; i <= name.size(); ++i)
            for (std::size_t j = 1; j <= mask.size(); ++j)
                m[i][j] = mask[j - 1] == '*'
                              ? (m[i - 1][j] || m[i][j - 1])
                              : (m[i - 1][j - 1] &&
                                 (mask[j - 1] == '?' || LowerAscii(mask[j - 1]) == LowerAscii(name[i - 1])));
        return bool(m[name.size()][mask.size()]);
    };
    const char alphabet[] = "aBb*?.";
    unsigned seed = 17;
    const auto next = [&seed](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int k = 0; k < 20000; ++k) {
        std::string name, mask;
        for (unsigned i = next(8); i > 0; --i)
            name += alphabet[next(6)];
        for (unsigned i = next(7); i > 0; --i)
            mask += alphabet[next(6)];
        ASSERT_EQ(MatchesMask(name, mask), reference(name, mask)) << name << " ~ " << mask;
    }
}

TEST(Format, FillsTheSystemsDirectivesAndRefusesMismatches) {
    EXPECT_EQ(Format("Znaleziono .%d podejrzanych plików", 3), "Znaleziono .3 podejrzanych plików");
    EXPECT_EQ(Format("%s (numer: %s)", "Work", "020 21 22"), "Work (numer: 020 21 22)");
    EXPECT_EQ(Format("%u%%", 7u), "7%");
    EXPECT_THROW(Format("%d", "text"), EQmError);
    EXPECT_THROW(Format("%s %s", "one"), EQmError);
    EXPECT_THROW(Format("%x", 1), EQmError);
}

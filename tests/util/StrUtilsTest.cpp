#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"
#include "util/uQmError.h"
#include "util/uWildcard.h"

#include <gtest/gtest.h>

#include <utility>

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
        {"foo.exe", "*exe", true}, {"fooexe", "*exe", true},
        {"A.EXE", "*exe", true},   {"a.ex", "*exe", false},
        {"abc", "a?c", true},      {"ac", "a?c", false},
        {"noext", "*.*", true},    {"x.y.z", "*.z", true},
        {"", "*", true},           {"aaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*b", true},
    };
    for (const Row& r : rows)
        EXPECT_EQ(MatchesMask(r.name, r.mask), r.match) << r.name << " ~ " << r.mask;
}

TEST(Format, FillsTheSystemsDirectivesAndRefusesMismatches) {
    EXPECT_EQ(Format("Znaleziono .%d podejrzanych plików", 3), "Znaleziono .3 podejrzanych plików");
    EXPECT_EQ(Format("%s (numer: %s)", "Work", "020 21 22"), "Work (numer: 020 21 22)");
    EXPECT_EQ(Format("%u%%", 7u), "7%");
    EXPECT_THROW(Format("%d", "text"), EQmError);
    EXPECT_THROW(Format("%s %s", "one"), EQmError);
    EXPECT_THROW(Format("%x", 1), EQmError);
}

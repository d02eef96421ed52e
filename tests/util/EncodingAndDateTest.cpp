#include "util/libStrUtilsQmPack.h"
#include "util/uDateTime.h"
#include "util/uTextFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace qm;

namespace {
std::vector<std::uint8_t> Units(std::initializer_list<char16_t> units) {
    std::vector<std::uint8_t> bytes;
    for (char16_t u : units) {
        bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return bytes;
}
} // namespace

TEST(Utf16, DecodesWithinItsBoundsOnly) {
    auto b = Units({u'0', u'7', 0, u'X'});
    EXPECT_EQ(Utf16LeToUtf8(b.data(), b.size(), 256), "07"); // stops at the terminator
    b = Units({u'1', u'2', u'3'});
    EXPECT_EQ(Utf16LeToUtf8(b.data(), b.size(), 2), "12"); // a field without a terminator ends there
    EXPECT_EQ(Utf16LeToUtf8(b.data(), 5, 256), "12");      // half a unit at the end is not read
    b = Units({0xD83D, 0xDE00, u'a'});
    EXPECT_EQ(Utf16LeToUtf8(b.data(), b.size(), 256), "\xF0\x9F\x98\x80"
                                                      "a");
    b = Units({0xD83D, u'a', 0xDE00});
    EXPECT_EQ(Utf16LeToUtf8(b.data(), b.size(), 256), "\xEF\xBF\xBD"
                                                      "a\xEF\xBF\xBD");
    b = Units({u'x', 0xD83D});
    EXPECT_EQ(Utf16LeToUtf8(b.data(), b.size(), 256), "x\xEF\xBF\xBD"); // cut pair at the field's end
    b = Units({0x0141, 0x00F3, 0x017A});
    EXPECT_EQ(Utf16LeToUtf8(b.data(), b.size(), 256), "Łóź");
    EXPECT_EQ(Utf8ToUtf16("Łó\xF0\x9F\x98\x80"), (std::u16string{0x0141, 0x00F3, 0xD83D, 0xDE00}));
}

TEST(LegacyText, Windows1250IsUsedOnlyForInvalidUtf8) {
    EXPECT_EQ(Windows1250ToUtf8("\xA5\xB9\x8C\x9C\xAF\xBF"), "ĄąŚśŻż");
    EXPECT_EQ(DecodeLegacyText("Za\xBF\xF3\xB3\xE6"), "Zażółć");
    EXPECT_EQ(DecodeLegacyText("Zażółć"), "Zażółć");
    EXPECT_EQ(DecodeLegacyText("\xEF\xBB\xBFok"), "ok");
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));     // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // surrogate
}

TEST(SplitLines, BreaksAtEveryKindOfLineEnd) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(SplitLines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(DayNumber, CountsWholeDaysFromTheEndOf1899) {
    EXPECT_EQ(DaysFromCivil(1899, 12, 30), 0);
    EXPECT_EQ(DaysFromCivil(1899, 12, 31), 1);
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 25569);
    EXPECT_EQ(DaysFromCivil(2026, 12, 9), 46365);
    EXPECT_EQ(DaysFromCivil(1899, 12, 29), -1);
    EXPECT_EQ(DayNumber(EncodeDateTime({2024, 2, 29, 23, 59, 59, 999})), DaysFromCivil(2024, 2, 29));
    const TDateParts p = DecodeDateTime(EncodeDateTime({2026, 12, 9, 10, 24, 5, 250}));
    EXPECT_EQ((std::vector<int>{p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond}),
              (std::vector<int>{2026, 12, 9, 10, 24, 5, 250}));
}

// Whatever the bytes, the lines' stored bytes put together give the file back, and each line's
// text is UTF-8 without a line break.
TEST(TextFile, LinesGiveBackTheFileByteForByte) {
    const char pieces[][4] = {"a",    "\r",       "\n",       "\r\n", "\xC5\x82",
                              "\xA3", "\xFF\xFE", "\xFE\xFF", "\0",   "\xEF\xBB\xBF"};
    unsigned seed = 99;
    const auto next = [&seed](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int k = 0; k < 5000; ++k) {
        std::string bytes;
        for (unsigned i = next(12); i > 0; --i) {
            const unsigned p = next(std::size(pieces));
            bytes.append(pieces[p], p == 8 ? 1 : std::strlen(pieces[p]));
        }
        const TTextFile file = DecodeTextFile(bytes);
        std::string joined = file.Format.Bom;
        for (const TTextLine& line : file.Lines) {
            joined += line.Bytes;
            ASSERT_TRUE(IsValidUtf8(line.Text));
            ASSERT_EQ(line.Text.find_first_of("\r\n"), std::string::npos);
        }
        ASSERT_EQ(joined, bytes);
    }
    // A UTF-16 file reads as text and a new line is written in its encoding and line break.
    const TTextFile le = DecodeTextFile(std::string("\xFF\xFEz\0\r\0\n\0", 8));
    ASSERT_EQ(le.Lines.size(), 1u);
    EXPECT_EQ(le.Lines[0].Text, "z");
    EXPECT_EQ(EncodeTextLine("ł", le.Format, true), std::string("\x42\x01\r\0\n\0", 6));
    const TTextFile mixed = DecodeTextFile("ok\xC5\x82\n\xA3\xF3\n");
    EXPECT_EQ(mixed.Lines[0].Text, "okł");
    EXPECT_EQ(mixed.Lines[1].Text, "Łó");
}

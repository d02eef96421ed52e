// The markup language over the fixed-width fake surface: what is drawn where, in which font state.
#include "components/FakeLabelSurface.h"
#include "components/uQmLabelEngine.h"
#include "util/uFormat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const TLabelFont kLabelFont{"Tahoma", 11, 1, clBlack, 0};

TLabelFont FontOf(std::uint8_t style = 0, TColor color = clBlack) {
    TLabelFont font = kLabelFont;
    font.Style = style;
    font.Color = color;
    return font;
}

struct TLabelSetup {
    std::vector<std::string> Text;
    int Width = 1000;
    TLabelFont Font = kLabelFont;
    bool WordWrap = true;
    bool AutoSize = true;
    bool Transparent = false;
    TColor Color = clBtnFace;
};

TLabelPaintResult Paint(TFakeLabelSurface& surface, const TLabelSetup& setup) {
    TLabelPaintInput input;
    input.Text = &setup.Text;
    input.Font = setup.Font;
    input.Color = setup.Color;
    input.Transparent = setup.Transparent;
    input.WordWrap = setup.WordWrap;
    input.AutoSize = setup.AutoSize;
    input.Width = setup.Width;
    TQmLabelEngine engine;
    return engine.Paint(surface, input);
}

std::vector<TFakeDraw> DrawsOf(const TLabelSetup& setup) {
    TFakeLabelSurface surface;
    Paint(surface, setup);
    return surface.Draws;
}

std::vector<TFakeDraw> DrawsOf(const std::string& line, TLabelFont font = kLabelFont) {
    TLabelSetup setup;
    setup.Text = {line};
    setup.Font = font;
    return DrawsOf(setup);
}

TEST(LabelEngineTest, ScanResultDrawsTheNumberBoldWithoutItsDot) {
    const std::string text = qm::Format("Znaleziono .%d podejrzanych plików", 12);
    EXPECT_THAT(DrawsOf(text),
                ElementsAre(TFakeDraw{0, 0, "Znaleziono", FontOf()}, TFakeDraw{100, 0, " ", FontOf()},
                            TFakeDraw{110, 0, "12", FontOf(fsBold)}, TFakeDraw{134, 0, " ", FontOf()},
                            TFakeDraw{144, 0, "podejrzanych", FontOf()}, TFakeDraw{264, 0, " ", FontOf()},
                            TFakeDraw{274, 0, "plików", FontOf()}));
}

TEST(LabelEngineTest, LeadingDotsAreConsumedWhileTwoCharactersRemain) {
    EXPECT_THAT(DrawsOf("..."), ElementsAre(TFakeDraw{0, 0, ".", FontOf(fsBold)}));
}

TEST(LabelEngineTest, WordOfManyMarkersIsDrawnWithoutExhaustingTheStack) {
    const std::string word = std::string(200000, '.') + "x";
    EXPECT_THAT(DrawsOf(word + " y"),
                ElementsAre(TFakeDraw{0, 0, "x", FontOf(fsBold)}, TFakeDraw{12, 0, " ", FontOf()},
                            TFakeDraw{22, 0, "y", FontOf()}));
}

TEST(LabelEngineTest, PlainReturnsToBlackUprightTextWhateverTheLabelFontColour) {
    const TLabelFont red = FontOf(0, clRed);
    EXPECT_THAT(DrawsOf("Kliknięcie  przycisku <b>Aktualizuj<plain> rozpocznie", red),
                ElementsAre(TFakeDraw{0, 0, "Kliknięcie", red}, TFakeDraw{100, 0, " ", red},
                            TFakeDraw{110, 0, " ", red}, TFakeDraw{120, 0, "przycisku", red},
                            TFakeDraw{210, 0, " ", red},
                            TFakeDraw{220, 0, "Aktualizuj", FontOf(fsBold, clRed)},
                            TFakeDraw{340, 0, " ", FontOf()}, TFakeDraw{350, 0, "rozpocznie", FontOf()}));
}

TEST(LabelEngineTest, UnknownTagIsDrawnExactlyAsWritten) {
    EXPECT_THAT(DrawsOf("A <Nowy Tag>B<>"),
                ElementsAre(TFakeDraw{0, 0, "A", FontOf()}, TFakeDraw{10, 0, " ", FontOf()},
                            TFakeDraw{20, 0, "<Nowy Tag>", FontOf()}, TFakeDraw{120, 0, "B", FontOf()},
                            TFakeDraw{130, 0, "<>", FontOf()}));
}

TEST(LabelEngineTest, ColourTagTakesNamesInAnyCaseAndUnlistedNamesGiveBlack) {
    const TLabelFont green = FontOf(0, clGreen);
    const TLabelFont red = FontOf(0, clRed);
    EXPECT_THAT(DrawsOf("<color:clred>a <COLOR:ClRed>b <color:fiolet>c <color:clInfoBk>d</color>e", green),
                ElementsAre(TFakeDraw{0, 0, "a", red}, TFakeDraw{10, 0, " ", red}, TFakeDraw{20, 0, "b", red},
                            TFakeDraw{30, 0, " ", red}, TFakeDraw{40, 0, "c", FontOf()},
                            TFakeDraw{50, 0, " ", FontOf()}, TFakeDraw{60, 0, "d", FontOf(0, clInfoBk)},
                            TFakeDraw{70, 0, "e", FontOf()}));
}

TEST(LabelEngineTest, QuotedLiteralKeepsItsAngleBracketAndIsLowered) {
    // Only A-Z are lowered: the Polish capital stays as written.
    EXPECT_THAT(DrawsOf("x<\"Ab>C Ż\">y"),
                ElementsAre(TFakeDraw{0, 0, "x", FontOf()}, TFakeDraw{10, 0, "ab>c Ż", FontOf()},
                            TFakeDraw{70, 0, "y", FontOf()}));
}

TEST(LabelEngineTest, AddressIsUprightUnderlinedBlueAfterASpaceAndTheStyleComesBack) {
    const TLabelFont italicGreen = FontOf(fsItalic, clGreen);
    const TLabelFont link = FontOf(fsUnderline, clBlue);
    EXPECT_THAT(DrawsOf("strona www.qmvardel.pl dalej", italicGreen),
                ElementsAre(TFakeDraw{0, 0, "strona", italicGreen}, TFakeDraw{66, 0, " ", italicGreen},
                            // 77 + one upright space
                            TFakeDraw{87, 0, "www.qmvardel.pl", link}, TFakeDraw{237, 0, " ", italicGreen},
                            TFakeDraw{248, 0, "dalej", italicGreen}));
    EXPECT_THAT(DrawsOf("pisz: biuro@qm.pl"),
                ElementsAre(TFakeDraw{0, 0, "pisz:", FontOf()}, TFakeDraw{50, 0, " ", FontOf()},
                            TFakeDraw{70, 0, "biuro@qm.pl", link}));
    // "www" is matched in lower case only.
    EXPECT_THAT(DrawsOf("WWW.QM.PL"), ElementsAre(TFakeDraw{0, 0, "WWW.QM.PL", FontOf()}));
}

TEST(LabelEngineTest, OpenTagIsDroppedToTheEndOfItsLineOnly) {
    TLabelSetup setup;
    setup.Text = {"tekst <b niedokończony", "druga linia"};
    EXPECT_THAT(DrawsOf(setup),
                ElementsAre(TFakeDraw{0, 0, "tekst", FontOf()}, TFakeDraw{50, 0, " ", FontOf()},
                            TFakeDraw{0, 16, "druga", FontOf()}, TFakeDraw{50, 16, " ", FontOf()},
                            TFakeDraw{60, 16, "linia", FontOf()}));
}

TEST(LabelEngineTest, UnbalancedQuoteStopsTagsForTheRestOfItsLineOnly) {
    TLabelSetup setup;
    setup.Text = {"a \"b <b>c", "<b>d"};
    EXPECT_THAT(DrawsOf(setup),
                ElementsAre(TFakeDraw{0, 0, "a", FontOf()}, TFakeDraw{10, 0, " ", FontOf()},
                            TFakeDraw{20, 0, "\"b", FontOf()}, TFakeDraw{40, 0, " ", FontOf()},
                            TFakeDraw{50, 0, "<b>c", FontOf()}, TFakeDraw{0, 16, "d", FontOf(fsBold)}));
}

TEST(LabelEngineTest, FormatMarkersApplyRecursivelyAndAreRestored) {
    struct TCase {
        std::string Line;
        std::vector<TFakeDraw> Expected;
    };
    const TLabelFont red = FontOf(0, clRed);
    const std::vector<TCase> cases = {
        {",kursywa", {{0, 0, "kursywa", FontOf(fsItalic)}}},
        {"_podkreślenie", {{0, 0, "podkreślenie", FontOf(fsUnderline)}}},
        {".,oba", {{0, 0, "oba", FontOf(fsBold | fsItalic)}}},
        {"_.x", {{0, 0, "x", FontOf(fsBold | fsUnderline)}}},
        {".", {{0, 0, ".", FontOf()}}},
        {"_", {{0, 0, "_", FontOf()}}},
        {".5.", {{0, 0, "5.", FontOf(fsBold)}}},
        {"<color:clred>.a b", {{0, 0, "a", FontOf(fsBold, clRed)}, {12, 0, " ", red}, {22, 0, "b", red}}},
        // "/i" leaves room of one upright space after italic text.
        {"<i>a</i>b", {{0, 0, "a", FontOf(fsItalic)}, {21, 0, "b", FontOf()}}},
        {"<u>a</u>b", {{0, 0, "a", FontOf(fsUnderline)}, {10, 0, "b", FontOf()}}},
        {"<b>a</b:x>b", {{0, 0, "a", FontOf(fsBold)}, {12, 0, "b", FontOf()}}},
    };
    for (const TCase& c : cases)
        EXPECT_THAT(DrawsOf(c.Line), ElementsAreArray(c.Expected)) << c.Line;
}

TEST(LabelEngineTest, DatabaseVersionBlockDrawsItsValuesBoldOnTwoLines) {
    TLabelSetup setup;
    setup.Text =
        SplitCaption("Data ostatniej aktualizacji: <b>2026-12-01</b>\r\nWersja bazy danych: <b>103</b>");
    std::vector<TFakeDraw> bold;
    for (const TFakeDraw& draw : DrawsOf(setup)) {
        if (draw.Font.Style != 0)
            bold.push_back(draw);
    }
    EXPECT_THAT(bold, ElementsAre(TFakeDraw{290, 0, "2026-12-01", FontOf(fsBold)},
                                  TFakeDraw{200, 16, "103", FontOf(fsBold)}));
}

TEST(LabelEngineTest, WrapsWhenPenPlusWidthReachesTheLabelWidth) {
    struct TCase {
        std::vector<std::string> Text;
        bool WordWrap;
        std::vector<std::tuple<int, int, std::string>> Expected;
    };
    const std::vector<TCase> cases = {
        // A space that does not fit starts the next line; the word follows it.
        {{"aaaa bbbb cccc"},
         true,
         {{0, 0, "aaaa"}, {40, 0, " "}, {50, 0, "bbbb"}, {0, 16, " "}, {10, 16, "cccc"}}},
        // Further spaces at the start of that wrapped line are dropped.
        {{"aaaa bbbb   cccc"},
         true,
         {{0, 0, "aaaa"}, {40, 0, " "}, {50, 0, "bbbb"}, {0, 16, " "}, {10, 16, "cccc"}}},
        {{"aaaaaaa bbbbbbb"}, true, {{0, 0, "aaaaaaa"}, {70, 0, " "}, {0, 16, "bbbbbbb"}}},
        // Reaching the width exactly is already too wide.
        {{"aaaaa bbbb"}, true, {{0, 0, "aaaaa"}, {50, 0, " "}, {0, 16, "bbbb"}}},
        // Too wide even at pen position 0: an empty line is left above it, and the word is
        // broken between characters (whole UTF-8 characters) so none of it is cut off.
        {{"cccccccccccc"}, true, {{0, 16, "ccccccccc"}, {0, 32, "ccc"}}},
        {{"ab żżżżżżżżżżżż"}, true, {{0, 0, "ab"}, {20, 0, " "}, {0, 16, "żżżżżżżżż"}, {0, 32, "żżż"}}},
        {{"cccccccccccc"}, false, {{0, 0, "cccccccccccc"}}},
        // Punctuation is part of the word.
        {{"słowo, koniec."}, true, {{0, 0, "słowo,"}, {60, 0, " "}, {0, 16, "koniec."}}},
        {{"aaaaaaa bbbbbbb"}, false, {{0, 0, "aaaaaaa"}, {70, 0, " "}, {80, 0, "bbbbbbb"}}},
        // Spaces after a hard line break are dropped, those on the first line are drawn.
        {{"a", "  b"}, true, {{0, 0, "a"}, {0, 16, "b"}}},
        {{"  a"}, true, {{0, 0, " "}, {10, 0, " "}, {20, 0, "a"}}},
    };
    for (const TCase& c : cases) {
        TLabelSetup setup;
        setup.Text = c.Text;
        setup.Width = 100;
        setup.WordWrap = c.WordWrap;
        std::vector<std::tuple<int, int, std::string>> actual;
        for (const TFakeDraw& draw : DrawsOf(setup))
            actual.emplace_back(draw.X, draw.Y, draw.Text);
        EXPECT_EQ(actual, c.Expected) << c.Text.front() << " wrap=" << c.WordWrap;
    }
}

TEST(LabelEngineTest, AutoSizeMeasuresTheTextInTheFontCurrentAtItsEnd) {
    struct TCase {
        std::vector<std::string> Text;
        bool WordWrap;
        bool AutoSize;
        TLabelPaintResult Expected;
    };
    const std::vector<TCase> cases = {
        {{"a", "b", "c"}, true, true, {true, 70, 48, true}},
        {{"a<b>"}, true, true, {true, 70, 18, true}},
        {{"a", "<b>b"}, true, true, {true, 70, 34, true}},
        // Broken in two lines of six below the empty first one.
        {{"cccccccccccc"}, true, true, {true, 70, 48, true}},
        {{}, true, true, {true, 70, 16, true}},
        {{}, false, true, {true, 5, 16, false}},
        {{""}, false, true, {true, 5, 16, false}},
        {{"abc"}, false, true, {true, 30, 16, false}},
        // Unwrapped labels are sized for one line: the pen position of the last one.
        {{"ab", "abcd"}, false, true, {true, 40, 16, false}},
        {{"a", "b"}, true, false, {false, 0, 0, false}},
    };
    for (const TCase& c : cases) {
        TLabelSetup setup;
        setup.Text = c.Text;
        setup.Width = 70;
        setup.WordWrap = c.WordWrap;
        setup.AutoSize = c.AutoSize;
        TFakeLabelSurface surface;
        const TLabelPaintResult result = Paint(surface, setup);
        const std::string name = c.Text.empty() ? "(none)" : c.Text.back();
        EXPECT_EQ(result.Sized, c.Expected.Sized) << name;
        EXPECT_EQ(result.Width, c.Expected.Width) << name;
        EXPECT_EQ(result.Height, c.Expected.Height) << name;
        EXPECT_EQ(result.NotifyHeight, c.Expected.NotifyHeight) << name;
    }
}

TEST(LabelEngineTest, EveryPaintFillsUnlessTransparentAndStartsFromTheLabelFont) {
    TFakeLabelSurface surface;
    TQmLabelEngine engine;
    const std::vector<std::string> first = {"<b>a", "b"};
    TLabelPaintInput input;
    input.Text = &first;
    input.Font = kLabelFont;
    input.Color = clLime;
    engine.Paint(surface, input);
    EXPECT_THAT(surface.Fills, ElementsAre(clLime));
    EXPECT_EQ(surface.ClearBackgroundCalls, 1);
    // Tag changes carry on to the next line (which is one bold line height lower).
    EXPECT_THAT(surface.Draws,
                ElementsAre(TFakeDraw{0, 0, "a", FontOf(fsBold)}, TFakeDraw{0, 18, "b", FontOf(fsBold)}));

    surface.Reset();
    const std::vector<std::string> second = {"c"};
    input.Text = &second;
    input.Transparent = true;
    engine.Paint(surface, input);
    EXPECT_THAT(surface.Fills, IsEmpty());
    EXPECT_EQ(surface.ClearBackgroundCalls, 1);
    EXPECT_THAT(surface.Draws, ElementsAre(TFakeDraw{0, 0, "c", FontOf()}));
}

TEST(LabelEngineTest, ReadTagFindsKindColourAndLiteral) {
    struct TCase {
        std::string Tag;
        std::uint8_t Kind;
        TColor Color;
        std::string Literal;
    };
    const std::vector<TCase> cases = {
        {"<b>", ckBold, clUnsetCommandColor, ""},
        {"<B>", ckBold, clUnsetCommandColor, ""},
        {"</b>", ckBoldOff, clUnsetCommandColor, ""},
        {"<i>", ckItalic, clUnsetCommandColor, ""},
        {"</I>", ckItalicOff, clUnsetCommandColor, ""},
        {"<u>", ckUnderline, clUnsetCommandColor, ""},
        {"</u>", ckUnderlineOff, clUnsetCommandColor, ""},
        {"<color:clRed>", ckColor, clRed, ""},
        {"<COLOR:CLBTNFACE>", ckColor, clBtnFace, ""},
        {"<color:clHotLight>", ckColor, clHotLight, ""},
        {"<color:clNone>", ckColor, clNone, ""},
        {"<color:clDefault>", ckColor, clDefault, ""},
        {"<color:clBlue:clRed>", ckColor, clBlue, ""},
        {"<color:purpurowy>", ckColor, clBlack, ""},
        {"<color>", ckColor, clBlack, ""},
        {"</color>", ckColorOff, clUnsetCommandColor, ""},
        {"<plain>", ckPlain, clUnsetCommandColor, ""},
        {"<b:cokolwiek>", ckBold, clUnsetCommandColor, ""},
        {"<>", ckNone, clUnsetCommandColor, ""},
        {"<:b>", ckNone, clUnsetCommandColor, ""},
        {"<bold>", ckNone, clUnsetCommandColor, ""},
        {"<\"Ab>C\">", ckLiteral, clUnsetCommandColor, "ab>c"},
        {"<\"\">", ckLiteral, clUnsetCommandColor, ""},
        // A colon breaks the literal: the first field is no longer quoted at both ends.
        {"<\"a:b\">", ckNone, clUnsetCommandColor, ""},
    };
    for (const TCase& c : cases) {
        const TCommand command = ReadTag(c.Tag);
        EXPECT_EQ(command.Kind, c.Kind) << c.Tag;
        EXPECT_EQ(command.Color, c.Color) << c.Tag;
        EXPECT_EQ(command.Literal, c.Literal) << c.Tag;
    }
}

TEST(LabelEngineTest, CaptionJoinsWithCrLfAndSplitsAtEveryLineBreak) {
    EXPECT_EQ(SplitCaption("pierwsza\ndruga"), (std::vector<std::string>{"pierwsza", "druga"}));
    EXPECT_EQ(SplitCaption("pierwsza\r\ndruga"), (std::vector<std::string>{"pierwsza", "druga"}));
    EXPECT_EQ(SplitCaption("a\rb\n\nc"), (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_EQ(SplitCaption("a\r\n"), (std::vector<std::string>{"a"}));
    EXPECT_THAT(SplitCaption(""), IsEmpty());

    EXPECT_EQ(JoinCaption(SplitCaption("pierwsza\ndruga")), "pierwsza\r\ndruga");
    EXPECT_EQ(JoinCaption({"jedna"}), "jedna");
    EXPECT_EQ(JoinCaption({"a", "", ""}), "a");
    EXPECT_EQ(JoinCaption({"a", "\n"}), "a");
    EXPECT_EQ(JoinCaption({}), "");
}

TEST(LabelEngineTest, PureTextDropsTagsAndWordMarkers) {
    struct TCase {
        std::vector<std::string> Text;
        std::string Expected;
    };
    const std::vector<TCase> cases = {
        {{"<b>QmVardel<plain> wykrył"}, "QmVardel wykrył"},
        {{qm::Format("Znaleziono .%d podejrzanych plików", 7)}, "Znaleziono 7 podejrzanych plików"},
        {{"a ,b _c .d"}, "a b c d"},
        {{"a . b"}, "a . b"},
        // The end of the text is not a space.
        {{"koniec ."}, "koniec "},
        // A marker at the very start, or after a line break, stays.
        {{".start"}, ".start"},
        {{"a", ".b"}, "a\r\n.b"},
        {{"a ..b"}, "a .b"},
        {{"x <niezamknięty"}, "x "},
        // Quotes are not honoured here.
        {{"<\"q>\">z"}, "\">z"},
        {{"Data: <b>1</b>", "Wersja: <b>2</b>"}, "Data: 1\r\nWersja: 2"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(PureText(c.Text), c.Expected) << c.Text.front();
}

TEST(LabelEngineTest, ColourNamesIgnoreLetterCase) {
    struct TCase {
        std::string Name;
        bool Found;
        TColor Value;
    };
    const std::vector<TCase> cases = {
        {"clred", true, 0x0000FF},
        {"CLSKYBLUE", true, 0xF0CAA6},
        {"clBtnFace", true, 0xFF00000F},
        {"clMenuBar", true, 0xFF00001E},
        {"cl3DDkShadow", true, 0xFF000015},
        {"clNone", true, 0x1FFFFFFF},
        {"clDefault", true, 0x20000000},
        {"clMedGray", true, 0xA4A0A0},
        {"red", false, 0},
        {"", false, 0},
    };
    for (const TCase& c : cases) {
        TColor value = 0x12345678;
        EXPECT_EQ(FindColorName(c.Name, value), c.Found) << c.Name;
        if (c.Found) {
            EXPECT_EQ(value, c.Value) << c.Name;
        }
        EXPECT_EQ(ColorFromName(c.Name), c.Found ? c.Value : clBlack) << c.Name;
    }
}

} // namespace

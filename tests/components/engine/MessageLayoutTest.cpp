// The message box's sizing rule and its button vocabulary, without any window.
#include "components/uMessageLayout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;

namespace {

TMessageBoxMetrics MetricsOf(unsigned buttons, int labelWidth, int labelHeight) {
    TMessageBoxMetrics metrics;
    metrics.Buttons = buttons;
    metrics.LabelWidth = labelWidth;
    metrics.LabelHeight = labelHeight;
    metrics.WorkAreaWidth = 1024;
    return metrics;
}

TEST(MessageLayoutTest, ClientSizeFollowsTheTextLines) {
    struct TCase {
        const char* Name;
        unsigned Buttons;
        int LabelWidth;
        int LabelHeight;
        int ClientWidth;
        int ClientHeight;
        int FirstButtonLeft;
    };
    // Lines 16 high; the client width is the longest line plus 90 once the text is wider than the
    // buttons.
    const std::vector<TCase> cases = {
        {"one line, OK", mbOK, 200, 16, 290, 76, 115},
        {"two lines, Yes No", mbYes | mbNo, 300, 32, 390, 92, 130},
        {"three lines, OK", mbOK, 420, 48, 510, 108, 225},
        {"short text, row wider", mbYes | mbNo | mbCancel, 20, 16, 240, 76, 20},
        {"one button never below 100", mbOK, 0, 16, 120, 76, 30},
        {"no buttons", 0, 100, 16, 190, 76, 95},
    };
    for (const TCase& c : cases) {
        const TMessageBoxGeometry geometry =
            ComputeMessageBoxGeometry(MetricsOf(c.Buttons, c.LabelWidth, c.LabelHeight));
        EXPECT_EQ(geometry.ClientWidth, c.ClientWidth) << c.Name;
        EXPECT_EQ(geometry.ClientHeight, c.ClientHeight) << c.Name;
        EXPECT_EQ(geometry.Label, (TMessageRect{50, 10, c.LabelWidth, c.LabelHeight})) << c.Name;
        EXPECT_EQ(geometry.Image, (TMessageRect{5, 5, 32, 32})) << c.Name;
        if (!geometry.ButtonPlaces.empty()) {
            EXPECT_EQ(geometry.ButtonPlaces.front().Rect,
                      (TMessageRect{c.FirstButtonLeft, c.ClientHeight - 35, 60, 25}))
                << c.Name;
        }
    }
}

TEST(MessageLayoutTest, OneButtonBoxIsAtLeastOneHundredBeforeTheFrameMinimum) {
    TMessageBoxMetrics metrics = MetricsOf(mbOK, 0, 16);
    metrics.FrameMinWidth = 0;
    const TMessageBoxGeometry geometry = ComputeMessageBoxGeometry(metrics);
    EXPECT_EQ(geometry.ContentClientWidth, 100);
    EXPECT_EQ(geometry.ClientWidth, 100);
    EXPECT_EQ(geometry.ButtonPlaces.front().Rect.Left, 20);
}

TEST(MessageLayoutTest, TextWiderThanTheWorkAreaIsCutAtTheRightEdge) {
    const TMessageBoxGeometry geometry = ComputeMessageBoxGeometry(MetricsOf(mbOK, 2000, 16));
    EXPECT_EQ(geometry.ContentClientWidth, 2090);
    EXPECT_EQ(geometry.WindowWidth, 1024);
    EXPECT_EQ(geometry.ClientWidth, 1024);
    // The label keeps its width and runs past the edge; the button stays centred in what is seen.
    EXPECT_EQ(geometry.Label.Width, 2000);
    EXPECT_EQ(geometry.ButtonPlaces.front().Rect.Left, 482);
}

TEST(MessageLayoutTest, SkinSetsButtonHeightFrameAndMinimumWidth) {
    TMessageBoxMetrics metrics = MetricsOf(mbYes | mbNo, 40, 16);
    metrics.ButtonHeight = 30;
    metrics.FrameMinWidth = 300;
    metrics.FrameWidth = 8;
    const TMessageBoxGeometry geometry = ComputeMessageBoxGeometry(metrics);
    EXPECT_EQ(geometry.ClientHeight, 30 + 16 + 35);
    EXPECT_EQ(geometry.WindowWidth, 300);
    EXPECT_EQ(geometry.ClientWidth, 292);
    EXPECT_THAT(geometry.ButtonPlaces, ElementsAre(TMessageButtonPlace{mbYes, {81, 41, 60, 30}},
                                                   TMessageButtonPlace{mbNo, {151, 41, 60, 30}}));
}

TEST(MessageLayoutTest, ButtonsGoInBitOrderSeventyApart) {
    const TMessageBoxGeometry geometry =
        ComputeMessageBoxGeometry(MetricsOf(kAllMessageButtons | (1u << 11), 0, 16));
    EXPECT_EQ(geometry.RowWidth, 11 * 60 + 10 * 10);
    ASSERT_EQ(geometry.ButtonPlaces.size(), 11u);
    for (std::size_t i = 0; i < geometry.ButtonPlaces.size(); ++i) {
        EXPECT_EQ(geometry.ButtonPlaces[i].Bit, 1u << i);
        EXPECT_EQ(geometry.ButtonPlaces[i].Rect.Left, 20 + static_cast<int>(i) * 70);
    }
}

TEST(MessageLayoutTest, DefaultAndCancelButtons) {
    struct TCase {
        unsigned Buttons;
        unsigned Default;
        unsigned Cancel;
    };
    const std::vector<TCase> cases = {
        {mbYes | mbNo, mbYes, mbNo},
        {mbOK, mbOK, mbOK},
        {mbOKCancel, mbOK, mbCancel},
        {mbYesNoCancel, mbYes, mbCancel},
        {mbYes | mbOK | mbRetry, mbOK, mbOK},
        {mbAbort | mbRetry | mbIgnore, mbRetry, 0},
        {mbHelp, 0, 0},
        {0, 0, 0},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(DefaultButtonOf(c.Buttons), c.Default) << c.Buttons;
        EXPECT_EQ(CancelButtonOf(c.Buttons), c.Cancel) << c.Buttons;
    }
}

TEST(MessageLayoutTest, TitlesAndLines) {
    EXPECT_EQ(MessageKindTitle(mtWarning), "Ostrzeżenie");
    EXPECT_EQ(MessageKindTitle(mtError), "Błąd");
    EXPECT_EQ(MessageKindTitle(mtInformation), "Informacja");
    EXPECT_EQ(MessageKindTitle(mtConfirmation), "Potwierdzenie");
    EXPECT_EQ(MessageKindTitle(mtCustom), "");
    EXPECT_EQ(MessageKindTitle(9), "");

    EXPECT_THAT(
        SplitMessageLines("Uwaga! Brakuje ważnych plików umożliwiających poprawne \r\ndziałanie programu "
                          "Qm Vardel. Konieczna jest reinstalacja \r\nprogramu."),
        ElementsAre("Uwaga! Brakuje ważnych plików umożliwiających poprawne ",
                    "działanie programu Qm Vardel. Konieczna jest reinstalacja ", "programu."));
    EXPECT_THAT(SplitMessageLines(""), ElementsAre(""));
}

} // namespace

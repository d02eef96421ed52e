// TQmLabel as a widget on the offscreen platform: defaults, repaint rules, auto-size through real
// paints, alignment and the colours it draws.
#include "components/QmLabel.h"
#include "components/QmColors.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class TCountingLabel : public TQmLabel {
public:
    using TQmLabel::TQmLabel;
    int Paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++Paints;
        TQmLabel::paintEvent(event);
    }
};

// Delivers everything already posted (update requests included) without waiting for anything new.
void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

struct TShownLabel {
    TShownLabel() : Label(&Parent) {
        Parent.resize(300, 200);
        Parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&Parent));
    }
    QWidget Parent;
    TCountingLabel Label;
};

TEST(QmLabelTest, NewLabelHasThePublishedDefaults) {
    TQmLabel label;
    EXPECT_EQ(label.size(), QSize(70, 35));
    EXPECT_EQ(label.Text(), std::vector<std::string>{"TQmLabel"});
    EXPECT_EQ(label.Caption(), "TQmLabel");
    EXPECT_EQ(label.Color(), clBtnFace);
    EXPECT_EQ(label.FontColor(), clWindowText);
    EXPECT_TRUE(label.AutoSize());
    EXPECT_TRUE(label.WordWrap());
    EXPECT_TRUE(label.InternetAutoFormat());
    EXPECT_FALSE(label.Transparent());
    EXPECT_EQ(label.Align(), alNone);
    EXPECT_FALSE(label.OnHeightChange);
    EXPECT_EQ(label.font(), QApplication::font());
    QWidget parent;
    TQmLabel child(&parent);
    EXPECT_TRUE(child.isVisibleTo(&parent));
}

TEST(QmLabelTest, WrappedAutoSizedLabelTakesItsLinesAndReportsEveryPaint) {
    TShownLabel shown;
    TCountingLabel& label = shown.Label;
    std::vector<int> reported;
    label.OnHeightChange = [&](TQmLabel* sender, int height) {
        EXPECT_EQ(sender, &label);
        reported.push_back(height);
    };
    Settle();
    label.Paints = 0;
    reported.clear();
    label.SetCaption("Pierwsza\nDruga\r\nTrzecia");
    const int lineHeight = QFontMetrics(label.font()).height();
    ASSERT_TRUE(QTest::qWaitFor([&] { return label.height() == 3 * lineHeight; }));
    Settle();
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 3 * lineHeight);
    EXPECT_EQ(static_cast<int>(reported.size()), label.Paints);
    EXPECT_EQ(label.width(), 70);
}

TEST(QmLabelTest, UnwrappedAutoSizedLabelIsOneLineAndAtLeastFiveWide) {
    TShownLabel shown;
    TCountingLabel& label = shown.Label;
    label.SetWordWrap(false);
    label.SetText({});
    const int lineHeight = QFontMetrics(label.font()).height();
    EXPECT_TRUE(QTest::qWaitFor([&] { return label.size() == QSize(5, lineHeight); }));

    label.SetText({"Czas połączenia: .15 sekund"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return label.width() > 100; }));
    EXPECT_EQ(label.height(), lineHeight);
}

TEST(QmLabelTest, RepaintsOnEveryChangeButNotWhenAValueIsSetAgain) {
    TShownLabel shown;
    TCountingLabel& label = shown.Label;
    Settle();

    label.Paints = 0;
    label.SetColor(clBtnFace);
    label.SetFontColor(clWindowText);
    label.SetAutoSize(true);
    label.SetWordWrap(true);
    label.SetInternetAutoFormat(true);
    label.SetTransparent(false);
    label.SetAlign(alNone);
    label.setFont(label.font());
    Settle();
    EXPECT_EQ(label.Paints, 0);

    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"Color",
         [&] {
             label.SetColor(clRed);
         }},
        {"FontColor",
         [&] {
             label.SetFontColor(clBlue);
         }},
        {"Font",
         [&] {
             QFont bold = label.font();
             bold.setBold(true);
             label.setFont(bold);
         }},
        {"Text",
         [&] {
             label.SetText(label.Text());
         }},
        {"Caption",
         [&] {
             label.SetCaption(label.Caption());
         }},
        {"InternetAutoFormat",
         [&] {
             label.SetInternetAutoFormat(false);
         }},
        {"Transparent",
         [&] {
             label.SetTransparent(true);
         }},
        {"WordWrap",
         [&] {
             label.SetWordWrap(false);
         }},
        {"AutoSize",
         [&] {
             label.SetAutoSize(false);
         }},
    };
    for (const auto& [name, change] : changes) {
        Settle();
        label.Paints = 0;
        change();
        EXPECT_TRUE(QTest::qWaitFor([&] { return label.Paints > 0; })) << name;
    }
}

TEST(QmLabelTest, AlignedLabelFollowsItsParentWithAutoSizeOff) {
    struct TCase {
        TAlign Align;
        QRect Expected;
        QRect AfterParentResize;
    };
    const std::vector<TCase> cases = {
        {alTop, {0, 0, 300, 35}, {0, 0, 400, 35}},      {alBottom, {0, 165, 300, 35}, {0, 265, 400, 35}},
        {alLeft, {0, 0, 70, 200}, {0, 0, 70, 300}},     {alRight, {230, 0, 70, 200}, {330, 0, 70, 300}},
        {alClient, {0, 0, 300, 200}, {0, 0, 400, 300}},
    };
    for (const TCase& c : cases) {
        QWidget parent;
        parent.resize(300, 200);
        parent.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
        TQmLabel label(&parent);
        label.SetAlign(c.Align);
        EXPECT_FALSE(label.AutoSize()) << c.Align;
        EXPECT_EQ(label.geometry(), c.Expected) << c.Align;
        parent.resize(400, 300);
        Settle();
        EXPECT_EQ(label.geometry(), c.AfterParentResize) << c.Align;
    }
}

TEST(QmLabelTest, SettingAnAlignmentSwitchesAutoSizeOffAtOnce) {
    TQmLabel label;
    label.SetAlign(alClient);
    EXPECT_FALSE(label.AutoSize());
    EXPECT_EQ(label.size(), QSize(70, 35));
}

TEST(QmLabelTest, LayoutsGetTheSizeTheTextTakes) {
    TQmLabel label;
    label.SetText({"jeden", "dwa", "trzy"});
    const int lineHeight = QFontMetrics(label.font()).height();
    EXPECT_TRUE(label.hasHeightForWidth());
    EXPECT_EQ(label.heightForWidth(400), 3 * lineHeight);
    EXPECT_EQ(label.sizeHint(), QSize(70, 3 * lineHeight));
    // At a width too narrow for any character, each word wraps below an empty line and is broken
    // into one line per character: 1 + 5, 1 + 3 and 1 + 4 lines.
    EXPECT_EQ(label.heightForWidth(1), 15 * lineHeight);

    label.SetWordWrap(false);
    EXPECT_FALSE(label.hasHeightForWidth());
    EXPECT_EQ(label.sizeHint(), QSize(QFontMetrics(label.font()).horizontalAdvance("trzy"), lineHeight));

    std::vector<int> reported;
    label.SetWordWrap(true);
    label.OnHeightChange = [&](TQmLabel*, int height) {
        reported.push_back(height);
    };
    label.UpdateAutoSize();
    EXPECT_EQ(label.height(), 3 * lineHeight);
    EXPECT_EQ(reported, std::vector<int>{3 * lineHeight});
}

TEST(QmLabelTest, CaptionAndPureTextViewTheText) {
    TQmLabel label;
    label.SetCaption("Data ostatniej aktualizacji: <b>01.12.2026</b>\nWersja bazy danych: <b>103</b>");
    EXPECT_EQ(label.Text(), (std::vector<std::string>{"Data ostatniej aktualizacji: <b>01.12.2026</b>",
                                                      "Wersja bazy danych: <b>103</b>"}));
    EXPECT_EQ(label.Caption(),
              "Data ostatniej aktualizacji: <b>01.12.2026</b>\r\nWersja bazy danych: <b>103</b>");
    EXPECT_EQ(label.PureText(), "Data ostatniej aktualizacji: 01.12.2026\r\nWersja bazy danych: 103");
}

TEST(QmLabelTest, FillsWithItsColourUnlessTransparentAndDrawsTagColours) {
    QWidget parent;
    parent.resize(200, 100);
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, Qt::blue);
    parent.setPalette(palette);
    TQmLabel label(&parent);
    label.SetAutoSize(false);
    label.setGeometry(10, 10, 150, 60);
    QFont font = label.font();
    font.setPixelSize(40);
    font.setBold(true);
    label.setFont(font);
    label.SetColor(clLime);
    label.SetText({"<color:clred>MMM"});

    auto countRed = [](const QImage& image) {
        int red = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.red() > 200 && pixel.green() < 60 && pixel.blue() < 60)
                    ++red;
            }
        }
        return red;
    };

    QImage image = parent.grab().toImage();
    EXPECT_EQ(image.pixelColor(12, 68), QColor(0, 255, 0));
    EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::blue));
    EXPECT_GT(countRed(image.copy(10, 10, 150, 60)), 50);

    label.SetTransparent(true);
    image = parent.grab().toImage();
    EXPECT_EQ(image.pixelColor(12, 68), QColor(Qt::blue));
}

TEST(QmLabelTest, ColourValuesMapToQtColours) {
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(1, 2, 3));
    palette.setColor(QPalette::Text, QColor(4, 5, 6));
    palette.setColor(QPalette::Base, QColor(7, 8, 9));
    palette.setColor(QPalette::Active, QPalette::Highlight, QColor(10, 11, 12));
    palette.setColor(QPalette::ToolTipBase, QColor(13, 14, 15));
    struct TCase {
        TColor Value;
        QColor Expected;
    };
    const std::vector<TCase> cases = {
        {clRed, QColor(255, 0, 0)},       {0x123456, QColor(0x56, 0x34, 0x12)},
        {clBtnFace, QColor(1, 2, 3)},     {clWindowText, QColor(4, 5, 6)},
        {clWindow, QColor(7, 8, 9)},      {clHighlight, QColor(10, 11, 12)},
        {clInfoBk, QColor(13, 14, 15)},   {clNone, QColor(Qt::transparent)},
        {clDefault, QColor(Qt::magenta)},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ColorToQColor(c.Value, palette, QColor(Qt::magenta)), c.Expected) << std::hex << c.Value;
    EXPECT_EQ(QColorToColor(QColor(0x56, 0x34, 0x12)), 0x123456u);
}

} // namespace

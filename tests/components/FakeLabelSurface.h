#pragma once
// A fixed-width drawing surface for the markup engine that records every fill and every string it
// draws with the font state at that moment. Each character (UTF-8 code point) is 10 pixels wide,
// 2 more in bold and 1 more in italic; every string is 16 pixels high, 18 in bold, so that tests
// can tell which font a measurement was made in.
#include "components/uQmLabelEngine.h"

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

struct TFakeDraw {
    int X = 0;
    int Y = 0;
    std::string Text;
    TLabelFont Font;

    bool operator==(const TFakeDraw&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TFakeDraw& draw) {
    return out << "(" << draw.X << "," << draw.Y << " \"" << draw.Text << "\" style=" << int(draw.Font.Style)
               << " color=0x" << std::hex << draw.Font.Color << std::dec << ")";
}

class TFakeLabelSurface final : public ILabelSurface {
public:
    static constexpr int kCharWidth = 10;
    static constexpr int kLineHeight = 16;

    static int CodePoints(std::string_view text) {
        int count = 0;
        for (unsigned char c : text) {
            if ((c & 0xC0) != 0x80)
                ++count;
        }
        return count;
    }

    void FillClipRect(TColor color) override { Fills.push_back(color); }
    void SetClearTextBackground() override { ++ClearBackgroundCalls; }
    void SetFont(const TLabelFont& font) override { Font = font; }

    int TextWidth(std::string_view text) override {
        const int perChar =
            kCharWidth + ((Font.Style & fsBold) != 0 ? 2 : 0) + ((Font.Style & fsItalic) != 0 ? 1 : 0);
        return CodePoints(text) * perChar;
    }

    int TextHeight(std::string_view) override { return kLineHeight + ((Font.Style & fsBold) != 0 ? 2 : 0); }

    void TextOut(int x, int y, std::string_view text) override {
        if (Record)
            Draws.push_back({x, y, std::string(text), Font});
        else
            ++UnrecordedDraws;
    }

    void Reset() {
        Fills.clear();
        Draws.clear();
        ClearBackgroundCalls = 0;
        UnrecordedDraws = 0;
    }

    bool Record = true;
    TLabelFont Font;
    std::vector<TColor> Fills;
    std::vector<TFakeDraw> Draws;
    int ClearBackgroundCalls = 0;
    long UnrecordedDraws = 0;
};

#pragma once
// The markup language of the program's labels, free of any toolkit: reading lines and tags, the
// word format markers (".", ",", "_"), address highlighting, word wrap and auto-size, plus the
// Caption and PureText views of a label's text. Every message of the alarm dialogs and several
// main-window lines are written in it, so the rules here are the ones the program's texts rely on;
// keep them exact. The engine draws through ILabelSurface, which the widget implements over a
// painter and tests implement as a recording fake.
#include "components/uColors.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum TFontStyleBit : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A font as the markup sees it: tags change only Style and Color.
struct TLabelFont {
    std::string Name;
    int Height = 0;
    int Charset = 1;
    TColor Color = clBlack;
    std::uint8_t Style = 0;

    bool operator==(const TLabelFont&) const = default;
};

// What the engine needs of a drawing surface. Coordinates are pixels from the label's top-left.
class ILabelSurface {
public:
    virtual ~ILabelSurface() = default;
    // Fills the current clip rectangle with a solid colour.
    virtual void FillClipRect(TColor color) = 0;
    // Text is drawn without a background box from here on.
    virtual void SetClearTextBackground() = 0;
    virtual void SetFont(const TLabelFont& font) = 0;
    virtual int TextWidth(std::string_view text) = 0;
    virtual int TextHeight(std::string_view text) = 0;
    // Draws text with its top-left corner at (x, y).
    virtual void TextOut(int x, int y, std::string_view text) = 0;
};

// Command kinds; the value is the index of the keyword in the ordered keyword table.
enum TCommandKind : std::uint8_t {
    ckNone = 0,
    ckLiteral = 1,
    ckBold = 2,
    ckBoldOff = 3,
    ckItalic = 4,
    ckItalicOff = 5,
    ckUnderline = 6,
    ckUnderlineOff = 7,
    ckColor = 8,
    ckColorOff = 9,
    ckPlain = 10,
};

inline constexpr TColor clUnsetCommandColor = 0xFFFFFFFFu;

// The result of reading one tag.
struct TCommand {
    std::uint8_t Kind = ckNone;
    TColor Color = clUnsetCommandColor;
    std::string Literal;
};

// Reads a tag written with its angle brackets ("<b>", "<color:clRed>", "<\"Text\">").
TCommand ReadTag(std::string_view tag);

// The label's properties that a paint reads.
struct TLabelPaintInput {
    const std::vector<std::string>* Text = nullptr;
    TLabelFont Font;
    TColor Color = clBtnFace;
    bool Transparent = false;
    bool WordWrap = true;
    bool AutoSize = true;
    int Width = 70;
};

// What the paint asks of the label afterwards.
struct TLabelPaintResult {
    // AutoSize was on: Width and Height are the label's new size.
    bool Sized = false;
    int Width = 0;
    int Height = 0;
    // AutoSize and WordWrap were on: OnHeightChange is due, with Height.
    bool NotifyHeight = false;
};

class TQmLabelEngine {
public:
    TLabelPaintResult Paint(ILabelSurface& surface, const TLabelPaintInput& input);

    // Drawing state, meaningful during and right after a paint.
    int PenPosition() const { return FPenPos; }
    int LineTop() const { return FLineTop; }
    bool LineStart() const { return FLineStart; }

private:
    void ReadLine(std::string_view line);
    void DrawWord(std::string_view word);
    void DrawUnmarkedWord(std::string_view word);
    void Execute(const TCommand& command);
    void Execute(std::uint8_t kind, TColor color = clBlack);
    void NewLine();
    int LineHeight();
    void ApplyFont();

    ILabelSurface* FSurface = nullptr;
    TLabelFont FFont;
    bool FWordWrap = true;
    int FWidth = 0;
    int FPenPos = 0;
    int FLineTop = 0;
    bool FLineStart = false;
    // Kept between lines and paints so that a long text allocates once.
    std::string FWordBuffer;
};

// Caption read: the lines joined, each followed by CR LF, with every CR and LF at the end removed.
std::string JoinCaption(const std::vector<std::string>& text);
// Caption write: the caption split into lines at CR LF, a lone CR and a lone LF.
std::vector<std::string> SplitCaption(std::string_view caption);
// The text without tags and without the format markers in front of words.
std::string PureText(const std::vector<std::string>& text);

#include "components/uQmLabelEngine.h"

#include "util/libStrUtilsQmPack.h"

#include <array>

namespace {

// Ordered: the index of the first equal entry is the command kind. The two empty entries are never
// matched by a keyword (an empty first field gives kind 0; kind 1 comes from the quoted form).
constexpr std::array<std::string_view, 11> kKeywords{
    "", "", "b", "/b", "i", "/i", "u", "/u", "color", "/color", "plain",
};

bool IsFormatMarker(char c) {
    return c == '.' || c == ',' || c == '_';
}

} // namespace

TCommand ReadTag(std::string_view tag) {
    TCommand command;
    std::string lowered(tag);
    // Only A-Z: bytes of multi-byte characters and other letters stay as written.
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    std::string_view body = lowered;
    if (!body.empty() && body.front() == '<')
        body.remove_prefix(1);
    if (!body.empty() && body.back() == '>')
        body.remove_suffix(1);

    const std::size_t colon = body.find(':');
    const std::string_view first = body.substr(0, colon);
    for (std::size_t kind = 0; kind < kKeywords.size(); ++kind) {
        if (first == kKeywords[kind]) {
            command.Kind = static_cast<std::uint8_t>(kind);
            break;
        }
    }
    if (command.Kind == ckColor) {
        std::string_view argument;
        if (colon != std::string_view::npos) {
            argument = body.substr(colon + 1);
            argument = argument.substr(0, argument.find(':'));
        }
        command.Color = ColorFromName(argument);
    } else if (command.Kind == ckNone && !first.empty() && first.front() == '"' && first.back() == '"') {
        command.Kind = ckLiteral;
        command.Literal = first.size() >= 2 ? std::string(first.substr(1, first.size() - 2)) : std::string();
    }
    return command;
}

TLabelPaintResult TQmLabelEngine::Paint(ILabelSurface& surface, const TLabelPaintInput& input) {
    FSurface = &surface;
    FWordWrap = input.WordWrap;
    FWidth = input.Width;
    FPenPos = 0;
    FLineTop = 0;
    FLineStart = false;

    if (!input.Transparent)
        surface.FillClipRect(input.Color);
    surface.SetClearTextBackground();
    // Every paint starts from the label's font; tags change only this copy, and their changes carry
    // on from one line to the next.
    FFont = input.Font;
    ApplyFont();

    if (input.Text != nullptr) {
        const std::vector<std::string>& text = *input.Text;
        for (std::size_t i = 0; i < text.size(); ++i) {
            ReadLine(text[i]);
            if (i + 1 < text.size())
                NewLine();
        }
    }

    TLabelPaintResult result;
    if (input.AutoSize) {
        result.Sized = true;
        const int lineHeight = LineHeight();
        if (input.WordWrap) {
            result.Width = input.Width;
            result.Height = lineHeight + FLineTop;
            result.NotifyHeight = true;
        } else {
            result.Width = FPenPos > 0 ? FPenPos : 5;
            result.Height = lineHeight;
        }
    }
    FSurface = nullptr;
    return result;
}

void TQmLabelEngine::ReadLine(std::string_view line) {
    std::string& buffer = FWordBuffer;
    buffer.clear();
    bool inTag = false;
    bool inQuote = false;

    auto take = [&](char c) {
        if (c == '"')
            inQuote = !inQuote;
        if (c == '<' && !inQuote) {
            inTag = true;
            DrawWord(buffer);
            buffer.assign(1, '<');
        } else if (c == '>' && inTag && !inQuote) {
            inTag = false;
            buffer.push_back('>');
            const TCommand command = ReadTag(buffer);
            if (command.Kind != ckNone)
                Execute(command);
            else
                DrawWord(buffer);
            buffer.clear();
        } else if ((c == '\n' || c == '\r' || c == ' ') && !inTag) {
            DrawWord(buffer);
            buffer.clear();
            if (c == ' ')
                DrawWord(" ");
        } else {
            buffer.push_back(c);
        }
    };

    for (char c : line)
        take(c);
    // The CR that ends every line flushes the last word; a tag still open here is dropped.
    take('\r');
    buffer.clear();
}

void TQmLabelEngine::DrawWord(std::string_view word) {
    // Each leading marker adds its style to the rest of the word, as long as two or more characters
    // remain; the style before the word comes back after it. A loop rather than recursion, so that
    // a word made of thousands of markers cannot exhaust the stack.
    const std::uint8_t styleBefore = FFont.Style;
    const TColor colorBefore = FFont.Color;
    bool marked = false;
    while (word.size() >= 2 && IsFormatMarker(word.front())) {
        Execute(word.front() == '.' ? ckBold : word.front() == ',' ? ckItalic : ckUnderline);
        word.remove_prefix(1);
        marked = true;
    }
    DrawUnmarkedWord(word);
    if (marked) {
        FFont.Style = styleBefore;
        FFont.Color = colorBefore;
        ApplyFont();
    }
}

namespace {

// The end of the UTF-8 character that starts at pos (a stray continuation byte counts alone).
std::size_t NextCharEnd(std::string_view text, std::size_t pos) {
    std::size_t end = pos + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        ++end;
    return end;
}

} // namespace

void TQmLabelEngine::DrawUnmarkedWord(std::string_view word) {
    if (word.empty())
        return;
    const bool isSpace = word == " ";
    if (isSpace && FLineStart)
        return;

    const bool address =
        word.find('@') != std::string_view::npos || word.find("www") != std::string_view::npos;
    const std::uint8_t savedStyle = FFont.Style;
    const TColor savedColor = FFont.Color;
    if (address) {
        Execute(ckItalicOff);
        Execute(ckUnderline);
        Execute(ckColor, clBlue);
    }

    int width = FSurface->TextWidth(word);
    if (FWordWrap && FPenPos + width >= FWidth)
        NewLine();
    // A word wider than a whole line (a long phone number) is broken between characters, so that
    // none of it is cut off at the label's edge.
    while (FWordWrap && FPenPos + width >= FWidth && word.size() > 1) {
        std::size_t fits = 0;
        for (std::size_t next = NextCharEnd(word, 0); next < word.size(); next = NextCharEnd(word, next)) {
            if (FPenPos + FSurface->TextWidth(word.substr(0, next)) >= FWidth)
                break;
            fits = next;
        }
        // At least one character per line, or the loop would never end.
        if (fits == 0)
            fits = NextCharEnd(word, 0);
        if (fits >= word.size())
            break;
        FSurface->TextOut(FPenPos, FLineTop, word.substr(0, fits));
        word.remove_prefix(fits);
        NewLine();
        width = FSurface->TextWidth(word);
    }
    FSurface->TextOut(FPenPos, FLineTop, word);
    FPenPos += width;
    // A space carried to the start of a wrapped line leaves the line-start state on, so that the
    // spaces after it are dropped like those after a hard line break.
    if (!isSpace)
        FLineStart = false;

    if (address) {
        FFont.Style = savedStyle;
        FFont.Color = savedColor;
        ApplyFont();
    }
}

void TQmLabelEngine::Execute(const TCommand& command) {
    if (command.Kind == ckLiteral)
        DrawWord(command.Literal);
    else
        Execute(command.Kind, command.Color);
}

void TQmLabelEngine::Execute(std::uint8_t kind, TColor color) {
    switch (kind) {
    case ckBold:
        FFont.Style |= fsBold;
        break;
    case ckBoldOff:
        FFont.Style &= static_cast<std::uint8_t>(~fsBold);
        break;
    case ckItalic:
        FFont.Style |= fsItalic;
        break;
    case ckItalicOff:
        FFont.Style &= static_cast<std::uint8_t>(~fsItalic);
        ApplyFont();
        // Room for the slant of the italic text before it.
        FPenPos += FSurface->TextWidth(" ");
        return;
    case ckUnderline:
        FFont.Style |= fsUnderline;
        break;
    case ckUnderlineOff:
        FFont.Style &= static_cast<std::uint8_t>(~fsUnderline);
        break;
    case ckColor:
        FFont.Color = color;
        break;
    case ckColorOff:
        FFont.Color = clBlack;
        break;
    case ckPlain:
        FFont.Style = 0;
        FFont.Color = clBlack;
        break;
    default:
        return;
    }
    ApplyFont();
}

void TQmLabelEngine::NewLine() {
    FPenPos = 0;
    FLineTop += LineHeight();
    FLineStart = true;
}

int TQmLabelEngine::LineHeight() {
    return FSurface->TextHeight("Hg");
}

void TQmLabelEngine::ApplyFont() {
    FSurface->SetFont(FFont);
}

std::string JoinCaption(const std::vector<std::string>& text) {
    std::string joined;
    for (const std::string& line : text) {
        joined += line;
        joined += "\r\n";
    }
    while (!joined.empty() && (joined.back() == '\r' || joined.back() == '\n'))
        joined.pop_back();
    return joined;
}

std::vector<std::string> SplitCaption(std::string_view caption) {
    return qm::SplitLines(caption);
}

std::string PureText(const std::vector<std::string>& text) {
    const std::string joined = JoinCaption(text);
    std::string untagged;
    untagged.reserve(joined.size());
    bool inTag = false;
    for (char c : joined) {
        if (inTag) {
            inTag = c != '>';
        } else if (c == '<') {
            inTag = true;
        } else {
            untagged.push_back(c);
        }
    }

    std::string pure;
    pure.reserve(untagged.size());
    for (std::size_t i = 0; i < untagged.size(); ++i) {
        const char c = untagged[i];
        const bool afterSpace = i > 0 && untagged[i - 1] == ' ';
        const bool beforeNonSpace = i + 1 >= untagged.size() || untagged[i + 1] != ' ';
        if (IsFormatMarker(c) && afterSpace && beforeNonSpace)
            continue;
        pure.push_back(c);
    }
    return pure;
}

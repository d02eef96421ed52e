#include "platform/linux/uLineFeedProtocol.h"

#include <charconv>

namespace qm {
namespace {

// Takes the next blank-separated word; false at the end.
bool NextWord(std::string_view& text, std::string_view& word) {
    std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return false;
    std::size_t end = text.find(' ', start);
    word = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    return true;
}

bool NextNumber(std::string_view& text, std::uint32_t& value) {
    std::string_view word;
    if (!NextWord(text, word))
        return false;
    auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return ec == std::errc() && ptr == word.data() + word.size();
}

} // namespace

std::string FormatFeedHeader(const std::vector<TFeedLine>& lines) {
    std::string out = "LINES " + std::to_string(lines.size()) + "\n";
    for (const TFeedLine& l : lines) {
        std::string name = l.Name;
        for (char& c : name)
            if (c == '\n' || c == '\r')
                c = ' ';
        out += "LINE " + std::to_string(l.Device) + " " + std::to_string(l.MediaModes) + " " + name + "\n";
    }
    return out;
}

std::string FormatFeedCallState(const TFeedCallState& s) {
    return "CALLSTATE " + std::to_string(s.Device) + " " + std::to_string(s.Call) + " " +
           std::to_string(s.State) + "\n";
}

TFeedMessage ParseFeedMessage(std::string_view text) {
    TFeedMessage m;
    std::string_view word;
    if (!NextWord(text, word))
        return m;
    if (word == "LINES") {
        if (NextNumber(text, m.Count))
            m.Kind = TFeedMessage::fmLines;
    } else if (word == "LINE") {
        if (NextNumber(text, m.Line.Device) && NextNumber(text, m.Line.MediaModes)) {
            // The name is everything after the one blank that ends the media modes, its own
            // leading blanks included.
            m.Line.Name = std::string(text);
            m.Kind = TFeedMessage::fmLine;
        }
    } else if (word == "CALLSTATE") {
        if (NextNumber(text, m.CallState.Device) && NextNumber(text, m.CallState.Call) &&
            NextNumber(text, m.CallState.State))
            m.Kind = TFeedMessage::fmCallState;
    }
    return m;
}

} // namespace qm

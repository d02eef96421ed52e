#include "util/uTextFile.h"

#include "util/libStrUtilsQmPack.h"

namespace qm {
namespace {

char16_t UnitAt(std::string_view bytes, std::size_t i, bool bigEndian) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
}

void AppendUnit(std::string& out, char16_t u, bool bigEndian) {
    const auto hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
}

void DecodeBytes(std::string_view bytes, TTextFile& file) {
    bool breakSeen = false;
    std::size_t start = 0, i = 0;
    auto addLine = [&](std::size_t end, std::size_t next) {
        const std::string_view text = bytes.substr(start, end - start);
        file.Lines.push_back({IsValidUtf8(text) ? std::string(text) : Windows1250ToUtf8(text),
                              std::string(bytes.substr(start, next - start))});
        if (!breakSeen && next > end) {
            file.Format.LineBreak = std::string(bytes.substr(end, next - end));
            breakSeen = true;
        }
        start = next;
    };
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        const std::size_t end = i;
        i += (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
        addLine(end, i);
    }
    if (start < bytes.size())
        addLine(bytes.size(), bytes.size());
}

void DecodeUtf16(std::string_view bytes, bool bigEndian, TTextFile& file) {
    const std::size_t units = bytes.size() / 2;
    bool breakSeen = false;
    std::size_t start = 0, i = 0;
    auto addLine = [&](std::size_t end, std::size_t next) {
        std::string utf8;
        for (std::size_t k = start; k < end; ++k) {
            const char16_t u = UnitAt(bytes, k, bigEndian);
            char32_t cp = u;
            if (u >= 0xD800 && u <= 0xDBFF && k + 1 < end) {
                const char16_t lo = UnitAt(bytes, k + 1, bigEndian);
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (lo - 0xDC00);
                    ++k;
                }
            }
            if (cp >= 0xD800 && cp <= 0xDFFF)
                cp = 0xFFFD; // an unpaired surrogate; the line's bytes keep it
            AppendUtf8(utf8, cp);
        }
        // A final odd byte belongs to the last line's bytes, so it is written back as it was.
        const std::size_t byteEnd = end == units ? bytes.size() : 2 * next;
        file.Lines.push_back({std::move(utf8), std::string(bytes.substr(2 * start, byteEnd - 2 * start))});
        if (!breakSeen && next > end) {
            file.Format.LineBreak =
                next - end == 2 ? "\r\n" : (UnitAt(bytes, end, bigEndian) == u'\r' ? "\r" : "\n");
            breakSeen = true;
        }
        start = next;
    };
    while (i < units) {
        const char16_t u = UnitAt(bytes, i, bigEndian);
        if (u != u'\r' && u != u'\n') {
            ++i;
            continue;
        }
        const std::size_t end = i;
        i += (u == u'\r' && i + 1 < units && UnitAt(bytes, i + 1, bigEndian) == u'\n') ? 2 : 1;
        addLine(end, i);
    }
    if (start < units || bytes.size() % 2 != 0)
        addLine(units, units);
}

} // namespace

TTextFile DecodeTextFile(std::string_view bytes) {
    TTextFile file;
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        const bool bigEndian = bytes[0] == '\xFE';
        file.Format.Encoding = bigEndian ? TTextEncoding::teUtf16Be : TTextEncoding::teUtf16Le;
        file.Format.Bom = std::string(bytes.substr(0, 2));
        DecodeUtf16(bytes.substr(2), bigEndian, file);
        return file;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        file.Format.Bom = std::string(bytes.substr(0, 3));
        bytes.remove_prefix(3);
    }
    DecodeBytes(bytes, file);
    return file;
}

std::string EncodeTextLine(std::string_view text, const TTextFormat& format, bool withBreak) {
    if (format.Encoding == TTextEncoding::teBytes)
        return withBreak ? std::string(text) + format.LineBreak : std::string(text);
    const bool bigEndian = format.Encoding == TTextEncoding::teUtf16Be;
    std::string out;
    out.reserve(2 * text.size() + 4);
    for (const char16_t u : Utf8ToUtf16(text))
        AppendUnit(out, u, bigEndian);
    if (withBreak)
        for (const char c : format.LineBreak)
            AppendUnit(out, static_cast<char16_t>(c), bigEndian);
    return out;
}

bool EndsWithLineBreak(std::string_view bytes, TTextEncoding encoding) {
    if (encoding == TTextEncoding::teBytes)
        return !bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r');
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return false;
    const char16_t u = UnitAt(bytes, bytes.size() / 2 - 1, encoding == TTextEncoding::teUtf16Be);
    return u == u'\n' || u == u'\r';
}

} // namespace qm

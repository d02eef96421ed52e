#include "core/uAppIni.h"

#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"
#include "util/uQmError.h"
#include "util/uTextFile.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <limits>

namespace {

const std::string kEscapePrefix = "\\e:";

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

bool ValueNeedsEscape(const std::string& v) {
    if (v.empty())
        return false;
    if (IsBlank(v.front()) || IsBlank(v.back()))
        return true;
    if (v.starts_with(kEscapePrefix))
        return true;
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        return true;
    for (char c : v)
        if (IsControl(static_cast<unsigned char>(c)))
            return true;
    return !qm::IsValidUtf8(v);
}

bool KeyNeedsEscape(const std::string& k) {
    if (k.empty() || IsBlank(k.front()) || IsBlank(k.back()) || k.front() == ';' ||
        k.starts_with(kEscapePrefix))
        return true;
    for (char c : k)
        if (c == '=' || c == '[' || c == ']' || IsControl(static_cast<unsigned char>(c)))
            return true;
    return !qm::IsValidUtf8(k);
}

std::string Escape(const std::string& text, bool isKey) {
    std::string out = kEscapePrefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        const bool atEnd = i == 0 || i + 1 == text.size();
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\0')
            out += "\\0";
        else if (c == ' ' && atEnd)
            out += "\\s";
        else if (isKey && c == '=')
            out += "\\q";
        else if (isKey && c == '[')
            out += "\\o";
        else if (isKey && c == ']')
            out += "\\c";
        else if (isKey && c == ';' && i == 0)
            out += "\\;";
        else if (IsControl(u) || (atEnd && IsBlank(c))) {
            out += "\\x";
            qm::AppendHexByte(out, u);
        } else if (u >= 0x80) {
            // A byte that is not part of a UTF-8 character would make the file's line undecodable.
            const std::size_t length = qm::Utf8SequenceLength(text, i);
            if (length == 0) {
                out += "\\x";
                qm::AppendHexByte(out, u);
            } else {
                out.append(text, i, length);
                i += length - 1;
            }
        } else
            out += c;
    }
    return out;
}

std::optional<int> ParseInt(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    std::string_view s(text);
    bool negative = false;
    if (s.front() == '-' || s.front() == '+') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.starts_with("0x") || s.starts_with("0X")) {
        base = 16;
        s.remove_prefix(2);
    } else if (s.starts_with("$")) {
        base = 16;
        s.remove_prefix(1);
    }
    if (s.empty())
        return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec != std::errc() || ptr != s.data() + s.size())
        return std::nullopt;
    if (base == 16) {
        // Hexadecimal text is a 32-bit pattern: $FFFFFFFF reads as -1, and "-$80000000" wraps
        // to itself as the profile functions' 32-bit arithmetic does.
        if (magnitude > 0xFFFFFFFFull)
            return std::nullopt;
        const auto pattern = static_cast<std::uint32_t>(magnitude);
        return static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
    }
    // Decimal: the magnitude is checked before it is negated, so no value can overflow.
    if (magnitude > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        return std::nullopt;
    return negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude)) : static_cast<int>(magnitude);
}

void CheckSectionName(const std::string& section) {
    bool bad = section.empty() || IsBlank(section.front()) || IsBlank(section.back());
    for (char c : section)
        bad = bad || c == ']' || c == '[' || IsControl(static_cast<unsigned char>(c));
    bad = bad || !qm::IsValidUtf8(section);
    if (bad)
        throw EQmError("Invalid settings section name: \"" + section + "\"");
}

} // namespace

TAppIni::TAppIni(std::string fileName, IFileSystem& fileSystem)
    : FFileName(std::move(fileName)), FFileSystem(fileSystem) {}

std::string TAppIni::EncodeKey(const std::string& key) {
    return KeyNeedsEscape(key) ? Escape(key, true) : key;
}

std::string TAppIni::EncodeValue(const std::string& value) {
    return ValueNeedsEscape(value) ? Escape(value, false) : value;
}

std::string TAppIni::DecodeText(const std::string& stored) {
    if (!stored.starts_with(kEscapePrefix))
        return stored;
    std::string out;
    for (std::size_t i = kEscapePrefix.size(); i < stored.size(); ++i) {
        const char c = stored[i];
        if (c != '\\' || i + 1 >= stored.size()) {
            out += c;
            continue;
        }
        const char e = stored[++i];
        switch (e) {
        case '\\':
            out += '\\';
            break;
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case '0':
            out += '\0';
            break;
        case 's':
            out += ' ';
            break;
        case 'q':
            out += '=';
            break;
        case 'o':
            out += '[';
            break;
        case 'c':
            out += ']';
            break;
        case ';':
            out += ';';
            break;
        case 'x':
            if (i + 2 < stored.size() && qm::HexDigitValue(stored[i + 1]) >= 0 &&
                qm::HexDigitValue(stored[i + 2]) >= 0) {
                out += static_cast<char>(qm::HexDigitValue(stored[i + 1]) * 16 +
                                         qm::HexDigitValue(stored[i + 2]));
                i += 2;
            } else {
                out += "\\x";
            }
            break;
        default:
            out += '\\';
            out += e;
        }
    }
    return out;
}

TAppIni::TLine TAppIni::ParseLine(const std::string& raw) {
    TLine line;
    line.Raw = raw;
    const std::string t = qm::Trim(raw);
    if (t.empty()) {
        line.Kind = TLine::TKind::Blank;
    } else if (t.front() == ';') {
        line.Kind = TLine::TKind::Comment;
    } else if (t.front() == '[') {
        line.Kind = TLine::TKind::Section;
        const auto close = t.find(']');
        line.Name = qm::Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else if (const auto eq = t.find('='); eq != std::string::npos) {
        line.Kind = TLine::TKind::Key;
        line.Name = DecodeText(qm::Trim(t.substr(0, eq)));
        std::string v = qm::Trim(t.substr(eq + 1));
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        line.Value = DecodeText(v);
    }
    return line;
}

TAppIni::TLine TAppIni::MakeKeyLine(const std::string& key, const std::string& value) {
    TLine line;
    line.Raw = EncodeKey(key) + "=" + EncodeValue(value);
    line.Kind = TLine::TKind::Key;
    line.Name = key;
    line.Value = value;
    return line;
}

TAppIni::TLine TAppIni::MakeSectionLine(const std::string& section) {
    TLine line;
    line.Raw = "[" + section + "]";
    line.Kind = TLine::TKind::Section;
    line.Name = section;
    return line;
}

void TAppIni::Refresh() {
    const auto stamp = FFileSystem.Stamp(FFileName);
    if (FLoaded && stamp == FStamp)
        return;
    FLines.clear();
    InvalidateIndex();
    FStamp = stamp;
    FLoaded = true;
    FFormat = {};
    if (!stamp)
        return;
    const auto content = FFileSystem.ReadAll(FFileName);
    if (!content)
        return;
    qm::TTextFile file = qm::DecodeTextFile(*content);
    FFormat = std::move(file.Format);
    FLines.reserve(file.Lines.size());
    for (qm::TTextLine& raw : file.Lines) {
        TLine line = ParseLine(raw.Text);
        line.Bytes = std::move(raw.Bytes);
        FLines.push_back(std::move(line));
    }
}

std::string TAppIni::FileContent() const {
    std::size_t size = FFormat.Bom.size();
    for (const TLine& l : FLines)
        size += (l.Bytes.empty() ? l.Raw.size() : l.Bytes.size()) + 2 * FFormat.LineBreak.size();
    std::string content;
    content.reserve(size);
    content += FFormat.Bom;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        const TLine& l = FLines[i];
        const bool last = i + 1 == FLines.size();
        if (l.Bytes.empty()) {
            content += qm::EncodeTextLine(l.Raw, FFormat, true);
            continue;
        }
        // An untouched line goes back byte for byte; only a last line without a break gets one
        // when a line now follows it.
        const bool wide = FFormat.Encoding != qm::TTextEncoding::teBytes;
        if (!last && wide && l.Bytes.size() % 2 != 0) {
            // A stray final byte of a UTF-16 file would shift every following line by one byte.
            content.append(l.Bytes, 0, l.Bytes.size() - 1);
            content += qm::EncodeTextLine("", FFormat, true);
            continue;
        }
        content += l.Bytes;
        if (!last && !qm::EndsWithLineBreak(l.Bytes, FFormat.Encoding))
            content += qm::EncodeTextLine("", FFormat, true);
    }
    return content;
}

void TAppIni::WriteLines() {
    if (FUpdateDepth > 0) {
        FPendingWrite = true;
        return;
    }
    if (!FFileSystem.ReplaceFile(FFileName, FileContent()))
        throw EQmError(qm::Format("Unable to write to %s", FFileName));
    FStamp = FFileSystem.Stamp(FFileName);
}

void TAppIni::EndUpdate() {
    if (FUpdateDepth == 0 || --FUpdateDepth > 0 || !FPendingWrite)
        return;
    FPendingWrite = false;
    try {
        WriteLines();
    } catch (...) {
        FLoaded = false; // the grouped changes did not reach the file: forget them
        throw;
    }
}

TAppIniUpdate::TAppIniUpdate(TAppIni& ini) : FIni(ini), FUncaught(std::uncaught_exceptions()) {
    FIni.BeginUpdate();
}

TAppIniUpdate::~TAppIniUpdate() noexcept(false) {
    if (std::uncaught_exceptions() > FUncaught) {
        try {
            FIni.EndUpdate();
        } catch (...) {
            // Already unwinding: the first error is the one the caller sees.
        }
        return;
    }
    FIni.EndUpdate();
}

void TAppIni::Commit(std::vector<TLine> lines) {
    std::swap(FLines, lines);
    InvalidateIndex();
    try {
        WriteLines();
    } catch (...) {
        std::swap(FLines, lines); // memory keeps matching the file that was not replaced
        throw;
    }
}

const TAppIni::TSectionIndex* TAppIni::FindSection(const std::string& section) {
    Refresh();
    if (!FIndexValid) {
        FIndex.clear();
        TSectionIndex* current = nullptr;
        for (std::size_t i = 0; i < FLines.size(); ++i) {
            const TLine& l = FLines[i];
            if (l.Kind == TLine::TKind::Section) {
                // Only the first section of a name counts, as with the profile functions.
                auto [it, inserted] = FIndex.try_emplace(qm::LowerAscii(l.Name));
                current = inserted ? &it->second : nullptr;
                if (current)
                    current->Header = i;
            } else if (current && l.Kind == TLine::TKind::Key) {
                current->Keys.try_emplace(qm::LowerAscii(l.Name), i);
            }
        }
        FIndexValid = true;
    }
    const auto it = FIndex.find(qm::LowerAscii(section));
    return it == FIndex.end() ? nullptr : &it->second;
}

std::optional<std::string> TAppIni::FindValue(const std::string& key, const std::string& section) {
    const TSectionIndex* index = FindSection(section);
    if (!index)
        return std::nullopt;
    const auto it = index->Keys.find(qm::LowerAscii(key));
    if (it == index->Keys.end())
        return std::nullopt;
    return FLines[it->second].Value;
}

int TAppIni::ReadInt(const std::string& key, int defaultValue, const std::string& section) {
    const auto value = FindValue(key, section);
    if (!value)
        return defaultValue;
    return ParseInt(*value).value_or(defaultValue);
}

bool TAppIni::ReadBool(const std::string& key, bool defaultValue, const std::string& section) {
    return ReadInt(key, defaultValue ? 1 : 0, section) != 0;
}

std::string TAppIni::ReadString(const std::string& key, const std::string& defaultValue,
                                const std::string& section) {
    return FindValue(key, section).value_or(defaultValue);
}

void TAppIni::ReadList(const std::string& section, std::vector<std::string>& list) {
    list.clear();
    Refresh();
    bool inSection = false;
    for (const TLine& l : FLines) {
        if (l.Kind == TLine::TKind::Section) {
            if (inSection)
                return;
            inSection = qm::SameText(l.Name, section);
        } else if (inSection && l.Kind == TLine::TKind::Key) {
            list.push_back(l.Value);
        }
    }
}

bool TAppIni::SectionExists(const std::string& section) {
    Refresh();
    for (const TLine& l : FLines)
        if (l.Kind == TLine::TKind::Section && qm::SameText(l.Name, section))
            return true;
    return false;
}

TAppIni::TUndo TAppIni::SetValue(std::vector<TLine>& lines, const std::string& key, const std::string& value,
                                 const std::string& section) {
    std::size_t header = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].Kind == TLine::TKind::Section && qm::SameText(lines[i].Name, section)) {
            header = i;
            break;
        }
    if (header == lines.size()) {
        lines.push_back(MakeSectionLine(section));
        lines.push_back(MakeKeyLine(key, value));
        return {TUndo::TKind::Inserted, header, 2, {}};
    }
    std::size_t lastContent = header; // new keys go after the section's last non-blank line
    for (std::size_t i = header + 1; i < lines.size() && lines[i].Kind != TLine::TKind::Section; ++i) {
        if (lines[i].Kind == TLine::TKind::Key && qm::SameText(lines[i].Name, key)) {
            TUndo undo{TUndo::TKind::Replaced, i, 1, std::move(lines[i])};
            lines[i] = MakeKeyLine(key, value);
            return undo;
        }
        if (lines[i].Kind != TLine::TKind::Blank)
            lastContent = i;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), MakeKeyLine(key, value));
    return {TUndo::TKind::Inserted, lastContent + 1, 1, {}};
}

void TAppIni::RemoveSection(std::vector<TLine>& lines, const std::string& section) {
    std::vector<TLine> kept;
    kept.reserve(lines.size());
    bool dropping = false;
    for (TLine& l : lines) {
        if (l.Kind == TLine::TKind::Section)
            dropping = qm::SameText(l.Name, section);
        if (!dropping)
            kept.push_back(std::move(l));
    }
    lines = std::move(kept);
}

void TAppIni::WriteString(const std::string& key, const std::string& value, const std::string& section) {
    CheckSectionName(section);
    Refresh();
    // Changed in place (no copy of a large file per write) and undone when the file refuses it.
    TUndo undo;
    std::optional<std::size_t> known;
    if (const TSectionIndex* index = FindSection(section)) {
        if (const auto it = index->Keys.find(qm::LowerAscii(key)); it != index->Keys.end())
            known = it->second;
    }
    if (known && FLines[*known].Value == value)
        return; // the file already says so: leave it (and its modification time) alone
    if (known) {
        undo = {TUndo::TKind::Replaced, *known, 1, std::move(FLines[*known])};
        FLines[*known] = MakeKeyLine(key, value);
    } else {
        undo = SetValue(FLines, key, value, section);
        InvalidateIndex();
    }
    try {
        WriteLines();
    } catch (...) {
        if (undo.Kind == TUndo::TKind::Replaced) {
            FLines[undo.Index] = std::move(undo.Old);
        } else {
            const auto first = FLines.begin() + static_cast<std::ptrdiff_t>(undo.Index);
            FLines.erase(first, first + static_cast<std::ptrdiff_t>(undo.Count));
            InvalidateIndex();
        }
        throw;
    }
}

void TAppIni::WriteInt(const std::string& key, int value, const std::string& section) {
    WriteString(key, std::to_string(value), section);
}

void TAppIni::WriteBool(const std::string& key, bool value, const std::string& section) {
    WriteString(key, value ? "1" : "0", section);
}

void TAppIni::WriteFloat(const std::string& key, const std::string& section, double value) {
    char buf[64];
    std::to_chars_result r{};
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value));
    else
        r = std::to_chars(buf, buf + sizeof buf, value);
    WriteString(key, std::string(buf, r.ptr), section);
}

void TAppIni::WriteList(const std::string& section, const std::vector<std::string>& list) {
    CheckSectionName(section);
    Refresh();
    std::vector<TLine> lines = FLines;
    RemoveSection(lines, section);
    if (!list.empty()) {
        lines.push_back(MakeSectionLine(section));
        for (std::size_t i = 0; i < list.size(); ++i)
            lines.push_back(MakeKeyLine(std::to_string(i), list[i]));
    }
    if (SameLines(lines, FLines))
        return;
    Commit(std::move(lines));
}

bool TAppIni::SameLines(const std::vector<TLine>& a, const std::vector<TLine>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].Raw != b[i].Raw)
            return false;
    return true;
}

void TAppIni::EraseSection(const std::string& section) {
    Refresh();
    std::vector<TLine> lines = FLines;
    RemoveSection(lines, section);
    if (lines.size() == FLines.size())
        return;
    Commit(std::move(lines));
}

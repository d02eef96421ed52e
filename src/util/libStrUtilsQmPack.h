#pragma once
// Text helpers shared by every layer. Text is UTF-8 in std::string; case folding is ASCII only,
// so that phone numbers, settings keys and fingerprints compare alike on every platform.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Removes every character with a code at or below the blank (space and controls) from the ends.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
// Inline: the signature table folds every byte it hashes.
inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
// Equality with the letters A-Z and a-z taken as equal; every other byte compares exactly.
bool SameText(std::string_view a, std::string_view b);
bool StartsWith(std::string_view text, std::string_view prefix);
bool EndsWith(std::string_view text, std::string_view suffix);

// The value of a hexadecimal digit in either letter case; -1 for any other byte.
int HexDigitValue(char c);
// Appends byte as two upper-case hexadecimal digits.
inline void AppendHexByte(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

bool IsValidUtf8(std::string_view bytes);
// The length of the well-formed UTF-8 sequence that starts at pos (1 to 4), or 0 when the bytes
// there are not one (a stray byte, an overlong form, a surrogate, a cut sequence).
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t pos);

// Decodes at most maxUnits UTF-16LE code units from data (of byteCount bytes): the text ends at the
// first zero unit, at maxUnits, or at the last whole unit of the buffer, whichever comes first.
// An unpaired surrogate becomes U+FFFD. Never reads past byteCount.
std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t byteCount, std::size_t maxUnits);
// Encodes UTF-8 as UTF-16LE units (invalid bytes become U+FFFD).
std::u16string Utf8ToUtf16(std::string_view text);

std::string Windows1250ToUtf8(std::string_view bytes);
// Text of a file that may come from Windows: UTF-8 as it is (a BOM dropped), anything else as
// Windows-1250.
std::string DecodeLegacyText(std::string_view bytes);

// Splits at CR LF, a lone CR and a lone LF. A final line break does not open an empty last line.
std::vector<std::string> SplitLines(std::string_view text);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

} // namespace qm

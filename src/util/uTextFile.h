#pragma once
// Reading and writing a user's text file line by line without changing what no write touched.
// A file may be UTF-8 or Windows-1250, even both in one file (a UTF-8 file edited once with a
// Windows editor), so 8-bit files are decoded line by line: a line that is valid UTF-8 stays
// UTF-8, any other line is read as Windows-1250. A file that starts with a UTF-16 byte-order mark
// (what Windows editors call "Unicode") is UTF-16 of that byte order. Every line keeps its exact
// bytes, line break included, so that writing an untouched line back gives the same bytes.
#include <string>
#include <string_view>
#include <vector>

namespace qm {

enum class TTextEncoding { teBytes, teUtf16Le, teUtf16Be };

struct TTextFormat {
    TTextEncoding Encoding = TTextEncoding::teBytes;
    std::string Bom;              // the byte-order mark as it stood (UTF-8, UTF-16LE or BE), or none
    std::string LineBreak = "\n"; // the file's first line break (as text), for new lines
};

struct TTextLine {
    std::string Text;  // UTF-8, without the line break
    std::string Bytes; // the line as it stands in the file, its line break included
};

struct TTextFile {
    TTextFormat Format;
    std::vector<TTextLine> Lines;
};

// Lines end at CR LF, a lone CR or a lone LF; a final line break opens no empty last line.
TTextFile DecodeTextFile(std::string_view bytes);

// The bytes of one line of text in the file's encoding, with the file's line break when withBreak.
std::string EncodeTextLine(std::string_view text, const TTextFormat& format, bool withBreak);

// Whether a line's stored bytes end with a line break of their encoding.
bool EndsWithLineBreak(std::string_view bytes, TTextEncoding encoding);

} // namespace qm

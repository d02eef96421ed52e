#pragma once
// TAppIni owns the settings file's format: the Windows profile format (sections in brackets,
// key=value lines; section and key names compare without letter case; values read trimmed, one
// pair of surrounding double quotes removed). Every write reaches the disk before it returns, by
// atomic replacement of the whole file; unrelated sections, keys, comments and blank lines stay
// byte for byte, and a write of the value the file already holds does not touch the file.
//
// The file is the user's: it is decoded line by line (a UTF-8 line stays UTF-8, any other 8-bit
// line reads as Windows-1250), a UTF-16 file with its byte-order mark is read and written back as
// UTF-16 of that byte order, and the line breaks stay what they were (new lines take the file's
// first one). Only the lines a write changes are encoded anew.
//
// Safety rule for text from outside (phone numbers become values and key names): a key or value
// that the format cannot hold as it is is written in an escaped form that starts with "\e:", in
// which "\\" is a backslash, "\r" CR, "\n" LF, "\0" NUL, "\s" a blank, "\q" "=", "\o" "[", "\c" "]",
// "\;" ";" and "\xHH" any other control byte. It is used only for:
//   - values holding a byte below 0x20 or 0x7F, blanks at either end, a double quote at both ends,
//     a byte that is not part of a UTF-8 character (written as "\xHH"), or starting with "\e:";
//   - keys holding "=", "[", "]", a byte below 0x20 or 0x7F, a byte that is not UTF-8, blanks at
//     either end, starting with ";" or "\e:", or empty.
// Every other key and value (digits, inner blanks, commas, "+", Polish letters) is written byte for
// byte as the profile functions write it. Section names are the program's own; one that the format
// cannot hold (or that is not UTF-8) raises EQmError.
//
// The parsed file is kept in memory and read again only when its stamp on disk changes, so a
// statistics cycle of reads and writes costs one file replacement per write and no parsing.
#include "platform/IFileSystem.h"
#include "util/uTextFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class TAppIni;

// Scope guard for TAppIni::BeginUpdate/EndUpdate.
class TAppIniUpdate {
public:
    explicit TAppIniUpdate(TAppIni& ini);
    ~TAppIniUpdate() noexcept(false);
    TAppIniUpdate(const TAppIniUpdate&) = delete;
    TAppIniUpdate& operator=(const TAppIniUpdate&) = delete;

private:
    TAppIni& FIni;
    int FUncaught;
};

class TAppIni {
public:
    TAppIni(std::string fileName, IFileSystem& fileSystem);

    const std::string& FileName() const { return FFileName; }

    int ReadInt(const std::string& key, int defaultValue, const std::string& section);
    bool ReadBool(const std::string& key, bool defaultValue, const std::string& section);
    std::string ReadString(const std::string& key, const std::string& defaultValue,
                           const std::string& section);
    // Empties list, then appends every value of the section's key lines in file order.
    void ReadList(const std::string& section, std::vector<std::string>& list);
    bool SectionExists(const std::string& section);

    void WriteInt(const std::string& key, int value, const std::string& section);
    void WriteBool(const std::string& key, bool value, const std::string& section);
    void WriteString(const std::string& key, const std::string& value, const std::string& section);
    // A whole value is written without a fraction ("45000"), others with a "." and as few digits
    // as read back exactly.
    void WriteFloat(const std::string& key, const std::string& section, double value);
    // Erases the section and writes item i under key i; one atomic replacement for the whole list.
    void WriteList(const std::string& section, const std::vector<std::string>& list);
    void EraseSection(const std::string& section);

    // Groups writes into one atomic replacement: inside BeginUpdate/EndUpdate (nestable) writes change
    // the parsed file only, and the outermost EndUpdate writes it once. When that write is refused it
    // raises, and the grouped changes are dropped (the file on disk is read again).
    void BeginUpdate() { ++FUpdateDepth; }
    void EndUpdate();

    // The escaped forms, exposed for tests and for callers that compose keys.
    static std::string EncodeKey(const std::string& key);
    static std::string EncodeValue(const std::string& value);
    static std::string DecodeText(const std::string& stored);

private:
    struct TLine {
        std::string Raw;   // the line's text (UTF-8)
        std::string Bytes; // the line as read from the file, break included; empty once changed
        enum class TKind { Other, Blank, Comment, Section, Key } Kind = TKind::Other;
        std::string Name;  // section header: the name; key line: the decoded key
        std::string Value; // key line: the decoded value
    };

    // What one in-place change did, so a refused write can take it back.
    struct TUndo {
        enum class TKind { Replaced, Inserted } Kind = TKind::Inserted;
        std::size_t Index = 0;
        std::size_t Count = 0;
        TLine Old;
    };

    void Refresh();
    void WriteLines();
    std::string FileContent() const;
    void Commit(std::vector<TLine> lines);
    static TLine ParseLine(const std::string& raw);
    static TLine MakeKeyLine(const std::string& key, const std::string& value);
    static TLine MakeSectionLine(const std::string& section);
    std::optional<std::string> FindValue(const std::string& key, const std::string& section);
    static TUndo SetValue(std::vector<TLine>& lines, const std::string& key, const std::string& value,
                          const std::string& section);
    // Equal line texts: writing one in place of the other changes nothing a read can see.
    static bool SameLines(const std::vector<TLine>& a, const std::vector<TLine>& b);
    static void RemoveSection(std::vector<TLine>& lines, const std::string& section);

    // Where the first section of each name starts and where its keys are (names lowered); rebuilt
    // only after lines were inserted or removed, so a value replacement keeps it.
    struct TSectionIndex {
        std::size_t Header = 0;
        std::unordered_map<std::string, std::size_t> Keys;
    };
    const TSectionIndex* FindSection(const std::string& section);
    void InvalidateIndex() { FIndexValid = false; }

    std::string FFileName;
    IFileSystem& FFileSystem;
    std::vector<TLine> FLines;
    std::unordered_map<std::string, TSectionIndex> FIndex;
    bool FIndexValid = false;
    int FUpdateDepth = 0;
    bool FPendingWrite = false;
    std::optional<TFileStamp> FStamp;
    bool FLoaded = false;
    qm::TTextFormat FFormat;
};

#pragma once
// The signature database Sygn.ini and the file fingerprint its lines are compared with.
//
// A fingerprint is the file's length in decimal, "-", then seventeen two-character byte codes
// with no separators: the bytes at offsets 1, 100, 200, ..., 1500 and length - 1, each as two
// upper-case hex digits, or "--" for an offset outside the file. The length is the end position
// taken as a 32-bit signed number, so a file of 2 GiB or more has a fingerprint that no line for
// its real size can equal. The database text (UTF-8 or Windows-1250) may start with a version
// line "[version]"; every other line is one signature. Lines compare without letter case and
// are never trimmed.
#include "detection/uSygnatureTable.h"
#include "platform/IFileSystem.h"
#include "util/uDateTime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The fingerprint of the file, or the empty text when it does not exist or cannot be opened.
// Opens the file once and reads at most seventeen single bytes.
std::string FileFingerprint(const IFileSystem& fileSystem, const std::string& path);
// Local date-time of the file's last write; 0 (30 December 1899, 00:00) when there is no file.
TDateTime FileLastWriteTime(const IFileSystem& fileSystem, const std::string& path);
// Why a database line can never equal a fingerprint (Polish, for signature authors), or the empty
// text when it is well formed.
std::string SygnatureLineProblem(std::string_view line);

} // namespace qm

// A line of the database that can never match, with its line number in the file (1-based,
// counting the version line).
struct TSygnatureProblem {
    std::size_t LineNumber = 0;
    std::string Line;
    std::string Reason;
};

enum TDialerCheck {
    dcMissing,    // nothing at the path (or a folder)
    dcNotDialer,  // its length is no size field, or its fingerprint is no line
    dcUnreadable, // its length is a size field but it cannot be opened
    dcDialer,
};

class TSygnatureManager {
public:
    static constexpr const char* kDefaultVersion = "1.0";

    // fileName is the full path of Sygn.ini; until a load succeeds, DatabaseDate is the last-write
    // time of executablePath. Loads at once; a load error does not escape (see LoadError).
    TSygnatureManager(std::string fileName, const IFileSystem& fileSystem, const std::string& executablePath);
    TSygnatureManager(const TSygnatureManager&) = delete;
    TSygnatureManager& operator=(const TSygnatureManager&) = delete;

    const std::string& FileName() const { return FFileName; }
    // The signature lines in file order, without the version line.
    TTextList Lines() const { return TTextList(FTable, TTextList::tlLines); }
    // The distinct size fields of the lines, in ascending text order.
    TTextList SizeIndex() const { return TTextList(FTable, TTextList::tlSizes); }
    const std::string& Version() const { return FVersion; }
    qm::TDateTime DatabaseDate() const { return FDatabaseDate; }
    // The error text of the last load, empty when it succeeded or found no file.
    const std::string& LoadError() const { return FLoadError; }

    // Re-reads the file. Nothing changes when it does not exist. When it exists but cannot be read
    // (or is 2 GiB or more), raises EQmError and keeps the contents of the previous load.
    void Load();
    // Takes over the contents of another manager's successful load (built on another thread, so
    // that the thread answering IsDialer never waits for a long load); loaded is left empty.
    void TakeLoaded(TSygnatureManager& loaded);
    // One metadata read for a file whose length is not a size field; otherwise the fingerprint.
    bool IsDialer(const std::string& path) const { return CheckFile(path) == dcDialer; }
    // IsDialer with the reason of a negative answer, for callers that report unreadable files.
    TDialerCheck CheckFile(const std::string& path) const;
    // The same for a file whose length the caller has just read with its metadata (the disk
    // walk): nothing is read again unless that length is a size field.
    bool IsDialer(const std::string& path, std::uint64_t size) const {
        return CheckFile(path, size) == dcDialer;
    }
    TDialerCheck CheckFile(const std::string& path, std::uint64_t size) const;
    std::string FileFingerprint(const std::string& path) const {
        return qm::FileFingerprint(FFileSystem, path);
    }
    qm::TDateTime FileLastWriteTime(const std::string& path) const {
        return qm::FileLastWriteTime(FFileSystem, path);
    }
    // Every loaded line that can never match, in file order.
    std::vector<TSygnatureProblem> MalformedLines() const;

private:
    [[noreturn]] void FailLoad(const std::string& message);

    std::string FFileName;
    const IFileSystem& FFileSystem;
    TSygnatureTable FTable;
    std::string FVersion = kDefaultVersion;
    qm::TDateTime FDatabaseDate = 0;
    bool FHasVersionLine = false;
    std::string FLoadError;
};

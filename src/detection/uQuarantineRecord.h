#pragma once
// The record that lies beside each quarantined file, "<stored name>.qmrecord": what the file was
// (path, mode, owner, time, fingerprint), when it was moved, and the autostart entries removed
// with it and where their backups are, so that it can all be put back.
//
// Format: UTF-8 text lines ending in LF. The first line is "QmVardel quarantine record 1". Then
// "key=value" lines: path, name (the stored file's name), mode (octal), uid, gid,
// mtime (seconds.nanoseconds since 1970, UTC), size, fingerprint, date (local, YYYY-MM-DD HH:MM:SS);
// then for each removed entry one line
//   entry=KIND MODE UID GID MTIME LOCATION NAME BACKUP
// (KIND "desktop" or "unit"; fields separated by one blank), followed by one line
//   link=PATH TARGET
// per link of that entry. A file that was gone before it could be moved, while autostart entries
// still named it, gets a record of its entries alone: "vanished=1" after the name, and no file
// facts (mode to fingerprint); its name is then only the record's identifier, with no file. A record whose
// file was restored while some of its entries could not be gets "restored=1" after "vanished=1". In every
// value and field the bytes "%", 0x00-0x20 and 0x7F are written as "%" and two upper-case hex digits, so any
// byte of a path survives and no field holds a blank or a line break. Unknown keys are skipped, so later
// versions may add some.
#include "platform/IAutoStartEntries.h"
#include "platform/IQuarantineFiles.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kQuarantineRecordSuffix = ".qmrecord";
inline constexpr std::string_view kQuarantineRecordHeader = "QmVardel quarantine record 1";

struct TQuarantinedEntry {
    TAutoStartEntry Entry; // its kind, folder, name, links and facts (no commands)
    std::string BackupName;
};

struct TQuarantineRecord {
    std::string OriginalPath;
    std::string StoredName;
    TFileFacts Facts;
    std::string Fingerprint;
    std::string Date;
    std::vector<TQuarantinedEntry> Entries;
    bool Vanished = false;     // no file was moved: the record keeps the removed entries only
    bool FileRestored = false; // with Vanished: the file was put back, these entries were not
};

namespace qm {

std::string EscapeRecordField(std::string_view text);
// Nothing when an escape is malformed.
std::optional<std::string> UnescapeRecordField(std::string_view text);

std::string FormatQuarantineRecord(const TQuarantineRecord& record);
// Nothing when the text is no record (wrong header, a malformed line, no path or name).
std::optional<TQuarantineRecord> ParseQuarantineRecord(std::string_view text);

} // namespace qm

#pragma once
// Port: the files of the quarantine folder. Moving a dialer in never loses it: the file is renamed
// when it can be, otherwise copied, flushed and checked byte for byte before the original goes;
// nothing in the folder is ever replaced; every step works on the file that was checked, so a link
// swapped in meanwhile cannot send a move or a delete elsewhere.
#include <cstdint>
#include <string>
#include <vector>

// What a file was like before it was moved, so that a restore can make it so again.
struct TFileFacts {
    std::uint32_t Mode = 0; // the permission bits (07777)
    std::uint32_t Uid = 0;
    std::uint32_t Gid = 0;
    std::int64_t ModifiedSec = 0; // modification time since 1970 (UTC)
    std::int64_t ModifiedNsec = 0;
    std::uint64_t Size = 0;
    bool operator==(const TFileFacts&) const = default;
};

enum TMoveStatus {
    msMoved,
    msNameTaken, // something already has the destination's name; nothing was done
    msFailed,    // nothing was moved; Error says why
};

struct TMoveResult {
    TMoveStatus Status = msFailed;
    TFileFacts Facts; // of the file as it was found
    std::string Error;
};

class IQuarantineFiles {
public:
    virtual ~IQuarantineFiles() = default;
    // True when anything (a file, a folder, a link) has this path.
    virtual bool Exists(const std::string& path) const = 0;
    // Moves the regular file at path into dir (created private to the user when missing) under
    // name, leaving it readable by its owner only. A symbolic link or anything but a regular file
    // at path is not moved.
    virtual TMoveResult MoveIn(const std::string& path, const std::string& dir, const std::string& name) = 0;
    // Puts dir/name back at target (its folders made as needed) with the mode, owner and
    // modification time of facts; msNameTaken when anything is at target.
    virtual TMoveResult MoveOut(const std::string& dir, const std::string& name, const std::string& target,
                                const TFileFacts& facts) = 0;
    // Appends line and a line break to file; false (nothing written) when its folder is missing.
    virtual bool AppendLine(const std::string& file, const std::string& line) = 0;
    // The names in dir, sorted; empty when it cannot be read.
    virtual std::vector<std::string> List(const std::string& dir) const = 0;
    // Deletes the file dir/name (never a folder); false when it cannot.
    virtual bool Delete(const std::string& dir, const std::string& name) = 0;
};

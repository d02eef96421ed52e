#pragma once
// Port: the files the Qt-free layers read and write. Paths are host paths in UTF-8.
#include "util/uDateTime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A file opened for reading while other programs may go on reading and writing it.
class IReadFile {
public:
    virtual ~IReadFile() = default;
    // The position of the end of the file (seeking there), or -1 when it cannot be had.
    virtual std::int64_t SeekEnd() = 0;
    // Reads one byte at offset; nothing when the offset lies outside the file or the read fails.
    virtual std::optional<std::uint8_t> ReadByteAt(std::int64_t offset) = 0;
};

// What tells one version of a file from another without reading it.
struct TFileStamp {
    std::uint64_t Size = 0;
    std::int64_t ModifiedNs = 0;
    std::uint64_t Inode = 0;
    bool operator==(const TFileStamp&) const = default;
};

// The user's own base folders for settings and for other written data (empty: unknown).
struct TUserFolders {
    std::string ConfigHome;
    std::string DataHome;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    // Nothing when there is no file.
    virtual std::optional<TFileStamp> Stamp(const std::string& path) const = 0;
    virtual bool FileExists(const std::string& path) const = 0;
    virtual bool DirectoryExists(const std::string& path) const = 0;
    // The length from the file's directory entry (one metadata read); nothing when there is no file.
    virtual std::optional<std::uint64_t> FileSize(const std::string& path) const = 0;
    // Local date-time of the last write; nothing when there is no file.
    virtual std::optional<qm::TDateTime> LastWriteTime(const std::string& path) const = 0;
    // Nothing when the file cannot be opened.
    virtual std::unique_ptr<IReadFile> OpenRead(const std::string& path) const = 0;
    // The whole content; nothing when the file does not exist or cannot be read.
    virtual std::optional<std::string> ReadAll(const std::string& path) const = 0;
    // Replaces the file's content atomically: a temporary file in the same folder is written,
    // flushed to disk and renamed over the old one. Returns false (old file untouched) on failure.
    virtual bool ReplaceFile(const std::string& path, const std::string& content) = 0;
    // Creates the folder and its parents; true when it exists afterwards.
    virtual bool CreateDirectories(const std::string& path) = 0;
    // As CreateDirectories, but the folders it creates are readable by their owner only.
    virtual bool CreatePrivateDirectories(const std::string& path) = 0;
    // Whether this process may create and replace files in the folder (false when it is missing).
    virtual bool IsWritableDirectory(const std::string& path) const = 0;
};

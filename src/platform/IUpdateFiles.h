#pragma once
// Port: the files the database update writes into its receiving folder and unpacks from archives.
// Every name is confined to its folder: the implementations never follow a symbolic link, never
// write to anything but a regular file, and never create a symbolic link.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A file being received. Data is appended; Reset empties it (each download attempt starts there).
class IDownloadFile {
public:
    virtual ~IDownloadFile() = default;
    virtual bool Write(std::string_view data) = 0;
    virtual bool Reset() = 0;
    // Flushes and closes; false when the data could not be stored.
    virtual bool Close() = 0;
};

struct TUnzipLimits {
    std::uint64_t MaxTotalBytes = 256ull * 1024 * 1024;
    std::size_t MaxEntries = 10000;
};

struct TUnzipResult {
    std::vector<std::string> Extracted; // full paths, in archive order
    std::vector<std::string> Skipped;   // entry names not created (symbolic links)
};

class IUpdateFiles {
public:
    virtual ~IUpdateFiles() = default;
    // Creates (or empties) the regular file name in folder; name must be a plain file name (no
    // separator). Raises EQmError with the reason when it cannot.
    virtual std::unique_ptr<IDownloadFile> CreateInFolder(const std::string& folder,
                                                          const std::string& name) = 0;
    // Removes a regular file; false when there was none or it could not be removed.
    virtual bool DeleteFile(const std::string& path) = 0;
    // Extracts every entry of the archive below folder. Raises EQmError (what was extracted so far
    // stays) for an entry that would leave the folder, a limit passed, or a damaged archive.
    virtual TUnzipResult Unzip(const std::string& archive, const std::string& folder,
                               const std::string& password, const TUnzipLimits& limits) = 0;
};

#pragma once
// Port: walking a folder tree for candidate files. The walk stays on the filesystem it started on
// and follows no symbolic links; names are matched with the Windows wildcard rules (util/uWildcard.h).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class IFileSearch {
public:
    // A candidate file: its full path and the length read with its metadata, so that nobody reads
    // the metadata again. Returns false to stop the walk.
    using TOnFile = std::function<bool(const std::string& path, std::uint64_t size)>;
    // A folder whose candidates have all been reported, with the number of entries it holds.
    // Returns false to stop the walk.
    using TOnFolder = std::function<bool(const std::string& path, std::uint64_t entries)>;

    virtual ~IFileSearch() = default;
    // Walks root in pre-order: for each folder its candidates (the names matching masks[0] in the
    // order the file system lists them, then those matching masks[1], ..., then, where the platform
    // marks programs by a permission bit, the other programs), then the folder itself, then its
    // subfolders in the same way, in listing order. Only "." and ".." are left out; unreadable
    // folders are passed over. A root that is a file is reported as a candidate itself. May run on
    // a worker thread: it touches nothing but its arguments.
    virtual void Walk(const std::string& root, const std::vector<std::string>& masks,
                      const TOnFolder& onFolder, const TOnFile& onFile) const = 0;
    // The entries in use on the filesystem that holds root (files, folders, links): what a walk of
    // the whole filesystem roughly has to look at. Nothing when the filesystem does not tell.
    virtual std::optional<std::uint64_t> EntriesInUse(const std::string& root) const = 0;
};

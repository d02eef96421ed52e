#pragma once
// Port: walking a folder tree for candidate files. The walk stays on the filesystem it started on
// and follows no symbolic links; names are matched with the Windows wildcard rules (util/uWildcard.h).
#include <functional>
#include <string>
#include <vector>

class IFileSearch {
public:
    virtual ~IFileSearch() = default;
    // Calls onFolder before each folder is read and onFile for each regular file whose name matches
    // one of masks (or, where the platform marks programs by a permission bit, that is executable).
    // Either callback returns false to stop the walk. Unreadable folders are passed over.
    virtual void Walk(const std::string& root, const std::vector<std::string>& masks,
                      const std::function<bool(const std::string& folder)>& onFolder,
                      const std::function<bool(const std::string& file)>& onFile) = 0;
};

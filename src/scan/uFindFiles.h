#pragma once
// FindFilesOnFixedDrives: the walk of every fixed disk for program and screen-saver files, with
// the progress the scan shows. It runs wherever its caller runs it (the scan's worker thread, the
// command-line scanner's only thread) and touches nothing but its ports and its callback.
#include "platform/IFileSearch.h"
#include "platform/IFixedDrives.h"
#include "platform/IMonotonicClock.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The masks of the scan: "*exe" takes "foo.exe" and "fooexe" alike.
inline constexpr const char* kScanMasks = "*exe;*.scr";
// Folder reports come at most this often; every file found is reported at once.
inline constexpr std::int64_t kFolderReportInterval = 500;

struct TSearchInfo {
    bool IsFile = false; // a candidate file, or a report about the folder being walked
    std::string Path;
    std::uint64_t Size = 0;     // files: the length read with the file's metadata
    std::uint64_t Examined = 0; // entries looked at so far in this walk
    std::uint64_t Total = 0;    // entries in use on the walked filesystems; 0 when unknown
};

// The callback may set stop; the walk then ends at once.
using TSearchCallback = std::function<void(const TSearchInfo& info, bool& stop)>;

namespace qm {

// Each non-empty piece before a ";" and the piece after the last one.
std::vector<std::string> SplitMasks(std::string_view masks);

} // namespace qm

struct TFindFilesPorts {
    const IFileSearch& Search;
    const IMonotonicClock& Clock;
};

// What a whole walk looked at.
struct TFindFilesCounts {
    std::uint64_t Folders = 0;
    std::uint64_t Entries = 0; // every name in every folder, folders included
};

// Walks each root in order. A folder is reported when more than kFolderReportInterval ms have
// passed since the last report of either kind (the first interval counts from the start).
TFindFilesCounts FindFiles(const std::vector<std::string>& roots, const TFindFilesPorts& ports,
                           std::string_view masks, const TSearchCallback& callback);
TFindFilesCounts FindFilesOnFixedDrives(const IFixedDrives& drives, const TFindFilesPorts& ports,
                                        std::string_view masks, const TSearchCallback& callback);

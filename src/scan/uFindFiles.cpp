#include "scan/uFindFiles.h"

namespace qm {

std::vector<std::string> SplitMasks(std::string_view masks) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t semicolon = masks.find(';', start);
        if (semicolon == std::string_view::npos) {
            out.emplace_back(masks.substr(start));
            return out;
        }
        if (semicolon > start)
            out.emplace_back(masks.substr(start, semicolon - start));
        start = semicolon + 1;
    }
}

} // namespace qm

TFindFilesCounts FindFiles(const std::vector<std::string>& roots, const TFindFilesPorts& ports,
                           std::string_view masks, const TSearchCallback& callback) {
    const std::vector<std::string> pieces = qm::SplitMasks(masks);
    TSearchInfo info;
    TFindFilesCounts counts;
    for (const std::string& root : roots)
        info.Total += ports.Search.EntriesInUse(root).value_or(0);
    std::int64_t last = ports.Clock.Milliseconds();
    bool stop = false;
    const IFileSearch::TOnFile onFile = [&](const std::string& path, std::uint64_t size) {
        info.IsFile = true;
        info.Path = path;
        info.Size = size;
        callback(info, stop);
        last = ports.Clock.Milliseconds();
        return !stop;
    };
    const IFileSearch::TOnFolder onFolder = [&](const std::string& path, std::uint64_t entries) {
        info.Examined += entries;
        ++counts.Folders;
        const std::int64_t now = ports.Clock.Milliseconds();
        if (now - last <= kFolderReportInterval)
            return true;
        info.IsFile = false;
        info.Path = path;
        info.Size = 0;
        callback(info, stop);
        last = ports.Clock.Milliseconds();
        return !stop;
    };
    for (const std::string& root : roots) {
        ports.Search.Walk(root, pieces, onFolder, onFile);
        if (stop)
            break;
    }
    counts.Entries = info.Examined;
    return counts;
}

TFindFilesCounts FindFilesOnFixedDrives(const IFixedDrives& drives, const TFindFilesPorts& ports,
                                        std::string_view masks, const TSearchCallback& callback) {
    return FindFiles(drives.Roots(), ports, masks, callback);
}

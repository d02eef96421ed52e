#pragma once
// The update's receiving folder and archive extraction on Linux. Every file is opened relative to
// a handle of its folder with O_NOFOLLOW, must be a regular file, and gets mode 0644; folders of
// archive entries are created one component at a time, never through a symbolic link. Archives
// are read with libzip; symbolic-link entries are skipped, the size and entry limits are counted
// on the bytes actually written, not on what the archive claims.
#include "platform/IUpdateFiles.h"

class TLinuxUpdateFiles : public IUpdateFiles {
public:
    std::unique_ptr<IDownloadFile> CreateInFolder(const std::string& folder,
                                                  const std::string& name) override;
    bool DeleteFile(const std::string& path) override;
    TUnzipResult Unzip(const std::string& archive, const std::string& folder, const std::string& password,
                       const TUnzipLimits& limits) override;
};

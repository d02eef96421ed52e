#pragma once
// The quarantine folder's files on Linux: renameat2(RENAME_NOREPLACE) between folder descriptors
// when both sides share a filesystem, else a verified copy (uLinuxSafeFiles.h) before the original
// is unlinked; the source is opened with O_NOFOLLOW and its identity (device, inode) checked again
// before the move is counted or the original unlinked.
#include "platform/IQuarantineFiles.h"

class TLinuxQuarantineFiles : public IQuarantineFiles {
public:
    bool Exists(const std::string& path) const override;
    TMoveResult MoveIn(const std::string& path, const std::string& dir, const std::string& name) override;
    TMoveResult MoveOut(const std::string& dir, const std::string& name, const std::string& target,
                        const TFileFacts& facts) override;
    bool AppendLine(const std::string& file, const std::string& line) override;
    std::vector<std::string> List(const std::string& dir) const override;
    bool Delete(const std::string& dir, const std::string& name) override;
};

#pragma once
// The disk walk on Linux, and the two small ports the scan runs it with: the monotonic clock and
// the worker thread.
//
// The walk keeps a stack of open folder handles (openat/getdents64), so reaching the next folder
// never lists a parent again. It stays on the mount it started on (statx mount id, else the
// device number: a btrfs subvolume inside the walked mount is walked, a mount point is not),
// opens every folder with O_NOFOLLOW (no symbolic link is ever followed) and passes over folders
// it cannot open. A regular file costs one fstatat, which gives both its execute bits and its
// length; other entries cost nothing beyond the listing.
#include "platform/IBackgroundJob.h"
#include "platform/IFileSearch.h"
#include "platform/IMonotonicClock.h"

#include <thread>

class TLinuxFileSearch : public IFileSearch {
public:
    void Walk(const std::string& root, const std::vector<std::string>& masks, const TOnFolder& onFolder,
              const TOnFile& onFile) const override;
    // statfs: inodes in use (total less free); nothing on filesystems without an inode count (btrfs).
    std::optional<std::uint64_t> EntriesInUse(const std::string& root) const override;
};

class TLinuxMonotonicClock : public IMonotonicClock {
public:
    std::int64_t Milliseconds() const override;
};

class TThreadJob : public IBackgroundJob {
public:
    ~TThreadJob() override { Join(); }
    void Start(std::function<void()> job) override;
    void Join() override;

private:
    std::thread FThread;
};

#include "platform/linux/uLinuxFileSearch.h"

#include "util/uWildcard.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

// Folders whose handles stay open at once; deeper ancestors are closed and opened again by path
// (and recognised by device and inode) when the walk comes back to them.
constexpr std::size_t kMaxOpenFolders = 64;
constexpr std::size_t kListBufferSize = 64 * 1024;

struct TFolderId {
    std::uint64_t Mount = 0;
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
};

bool IdentifyFolder(int fd, TFolderId& id) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO | STATX_MNT_ID, &sx) != 0)
        return false;
    if (!S_ISDIR(sx.stx_mode))
        return false;
    id.Device = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    id.Inode = sx.stx_ino;
    // Kernels before 5.8 give no mount id: the device number draws the border then.
    id.Mount = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : id.Device;
    return true;
}

struct TFolder {
    int Fd = -1;
    std::string Prefix; // the folder's path with one trailing "/"
    TFolderId Id;
    std::vector<std::string> Subfolders;
    std::size_t Next = 0;
};

struct TCandidate {
    std::size_t Group;
    std::size_t NameStart;
    std::uint64_t Size;
};

class TWalk {
public:
    TWalk(const std::vector<std::string>& masks, const IFileSearch::TOnFolder& onFolder,
          const IFileSearch::TOnFile& onFile)
        : FMasks(masks), FOnFolder(onFolder), FOnFile(onFile), FBuffer(kListBufferSize) {}
    ~TWalk() {
        for (TFolder& f : FStack)
            if (f.Fd >= 0)
                ::close(f.Fd);
    }

    void Run(const std::string& root) {
        const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            // A file named as the root is looked at itself, whatever its name.
            struct stat st {};
            if (errno == ENOTDIR && ::stat(root.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                FOnFile(root, static_cast<std::uint64_t>(st.st_size));
            return;
        }
        TFolder top;
        top.Fd = fd;
        top.Prefix = root;
        while (top.Prefix.size() > 1 && top.Prefix.back() == '/')
            top.Prefix.pop_back();
        if (top.Prefix != "/")
            top.Prefix += '/';
        if (!IdentifyFolder(fd, top.Id)) {
            ::close(fd);
            return;
        }
        FMount = top.Id.Mount;
        FStack.push_back(std::move(top));
        if (!ReadFolder(FStack.back()))
            return;
        while (!FStack.empty()) {
            TFolder& folder = FStack.back();
            if (folder.Next == folder.Subfolders.size()) {
                if (folder.Fd >= 0)
                    ::close(folder.Fd);
                FStack.pop_back();
                continue;
            }
            const std::string& name = folder.Subfolders[folder.Next++];
            if (!Reopen(folder)) {
                folder.Next = folder.Subfolders.size();
                continue;
            }
            // O_NOFOLLOW: an entry swapped for a symbolic link since the listing is not followed.
            const int child =
                ::openat(folder.Fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0)
                continue; // unreadable, gone, or no folder any more
            TFolder next;
            next.Fd = child;
            if (!IdentifyFolder(child, next.Id) || next.Id.Mount != FMount) {
                ::close(child);
                continue;
            }
            next.Prefix = folder.Prefix + name + '/';
            FStack.push_back(std::move(next));
            if (FStack.size() > kMaxOpenFolders) {
                TFolder& far = FStack[FStack.size() - 1 - kMaxOpenFolders];
                if (far.Fd >= 0) {
                    ::close(far.Fd);
                    far.Fd = -1;
                }
            }
            if (!ReadFolder(FStack.back()))
                return;
        }
    }

private:
    // Opens a folder whose handle was closed for depth, refusing anything that is not the same
    // folder any more.
    static bool Reopen(TFolder& folder) {
        if (folder.Fd >= 0)
            return true;
        const int fd = ::open(folder.Prefix.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return false;
        TFolderId id;
        if (!IdentifyFolder(fd, id) || id.Device != folder.Id.Device || id.Inode != folder.Id.Inode) {
            ::close(fd);
            return false;
        }
        folder.Fd = fd;
        return true;
    }

    std::size_t MaskGroup(const char* name) const {
        for (std::size_t i = 0; i < FMasks.size(); ++i)
            if (qm::MatchesMask(name, FMasks[i]))
                return i;
        return FMasks.size();
    }

    // Lists the folder whole, reports its candidates and itself; false when a callback stopped
    // the walk.
    bool ReadFolder(TFolder& folder) {
        FNames.clear();
        FCandidates.clear();
        std::uint64_t entries = 0;
        const std::size_t execGroup = FMasks.size();
        for (;;) {
            const ssize_t n = ::getdents64(folder.Fd, FBuffer.data(), FBuffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break; // the end, or a folder that cannot be read further: what was read counts
            for (ssize_t pos = 0; pos < n;) {
                const auto* d = reinterpret_cast<const struct dirent64*>(FBuffer.data() + pos);
                pos += d->d_reclen;
                const char* name = d->d_name;
                if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                    continue;
                ++entries;
                unsigned char type = d->d_type;
                struct stat st {};
                bool statted = false;
                if (type == DT_UNKNOWN) {
                    if (::fstatat(folder.Fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                        continue;
                    statted = true;
                    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
                }
                if (type == DT_DIR) {
                    folder.Subfolders.emplace_back(name);
                    continue;
                }
                if (type != DT_REG)
                    continue;
                // One metadata read gives what both tests need: the length and the execute bits.
                if (!statted && ::fstatat(folder.Fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                if (!S_ISREG(st.st_mode))
                    continue;
                std::size_t group = MaskGroup(name);
                if (group == execGroup && (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0)
                    continue;
                FCandidates.push_back({group, FNames.size(), static_cast<std::uint64_t>(st.st_size)});
                FNames.append(name);
                FNames.push_back('\0');
            }
        }
        for (std::size_t group = 0; group <= execGroup; ++group) {
            for (const TCandidate& c : FCandidates) {
                if (c.Group != group)
                    continue;
                FPath.assign(folder.Prefix);
                FPath.append(FNames.c_str() + c.NameStart);
                if (!FOnFile(FPath, c.Size))
                    return false;
            }
        }
        FPath.assign(folder.Prefix);
        if (FPath.size() > 1)
            FPath.pop_back();
        return FOnFolder(FPath, entries);
    }

    const std::vector<std::string>& FMasks;
    const IFileSearch::TOnFolder& FOnFolder;
    const IFileSearch::TOnFile& FOnFile;
    std::vector<char> FBuffer;
    std::vector<TFolder> FStack;
    std::uint64_t FMount = 0;
    std::string FNames;
    std::vector<TCandidate> FCandidates;
    std::string FPath;
};

} // namespace

void TLinuxFileSearch::Walk(const std::string& root, const std::vector<std::string>& masks,
                            const TOnFolder& onFolder, const TOnFile& onFile) const {
    TWalk(masks, onFolder, onFile).Run(root);
}

std::optional<std::uint64_t> TLinuxFileSearch::EntriesInUse(const std::string& root) const {
    struct statfs fs {};
    if (::statfs(root.c_str(), &fs) != 0 || fs.f_files == 0 || fs.f_ffree > fs.f_files)
        return std::nullopt;
    return static_cast<std::uint64_t>(fs.f_files - fs.f_ffree);
}

std::int64_t TLinuxMonotonicClock::Milliseconds() const {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void TThreadJob::Start(std::function<void()> job) {
    Join();
    // Same priority as the window's thread: a lower one lets the scheduler park the worker while
    // it holds a lock the window then waits for (the allocator's, when the window frees what the
    // worker allocated), which cost the window gaps of 150 ms on a loaded machine.
    FThread = std::thread(std::move(job));
}

void TThreadJob::Join() {
    if (FThread.joinable())
        FThread.join();
}

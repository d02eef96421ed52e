#include "platform/linux/uLinuxQuarantineFiles.h"

#include "platform/linux/uLinuxSafeFiles.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm::linuxfs;

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

TMoveResult Failed(std::string error) {
    TMoveResult r;
    r.Status = msFailed;
    r.Error = std::move(error);
    return r;
}

// Moves the opened file srcFd, named srcDir/srcName, to dstDir/dstName. A rename when it can; a
// copy with mode copyMode, checked before the original is unlinked, across filesystems.
// After a rename, the moved name must still be the checked file, or it is put back.
TMoveResult Move(int srcFd, const struct stat& srcSt, int srcDir, const std::string& srcName, int dstDir,
                 const std::string& dstName, mode_t copyMode) {
    TMoveResult result;
    result.Facts = FactsOf(srcSt);
    if (::renameat2(srcDir, srcName.c_str(), dstDir, dstName.c_str(), RENAME_NOREPLACE) == 0) {
        struct stat moved {};
        if (::fstatat(dstDir, dstName.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(moved, srcSt)) {
            // Another file took the name between the check and the rename: it goes back untouched.
            ::renameat2(dstDir, dstName.c_str(), srcDir, srcName.c_str(), RENAME_NOREPLACE);
            return Failed("the file was replaced while it was being moved");
        }
        result.Status = msMoved;
        return result;
    }
    const int renameError = errno;
    if (renameError == EEXIST) {
        result.Status = msNameTaken;
        return result;
    }
    // Only a move between filesystems (or one that cannot refuse to replace) is worth a copy;
    // anything else (no right to the folder) would refuse the unlink as well.
    if (renameError != EXDEV && renameError != EINVAL && renameError != ENOSYS)
        return Failed(ErrorText(renameError));
    std::string error;
    bool taken = false;
    if (!CopyInto(srcFd, dstDir, dstName, copyMode, error, &taken)) {
        if (taken) {
            result.Status = msNameTaken;
            return result;
        }
        return Failed(error);
    }
    struct stat still {};
    if (::fstatat(srcDir, srcName.c_str(), &still, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(still, srcSt)) {
        ::unlinkat(dstDir, dstName.c_str(), 0);
        return Failed("the file was replaced while it was being copied");
    }
    if (::unlinkat(srcDir, srcName.c_str(), 0) != 0) {
        const int err = errno;
        ::unlinkat(dstDir, dstName.c_str(), 0);
        return Failed(ErrorText(err));
    }
    ::fsync(srcDir);
    result.Status = msMoved;
    return result;
}

} // namespace

bool TLinuxQuarantineFiles::Exists(const std::string& path) const {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TMoveResult TLinuxQuarantineFiles::MoveIn(const std::string& path, const std::string& dir,
                                          const std::string& name) {
    if (!MakeDirectories(dir, 0700))
        return Failed(dir + ": " + ErrorText(errno));
    const TFd dirFd = OpenDir(dir);
    const TFd srcDir = OpenDir(DirPart(path));
    if (!dirFd.Valid() || !srcDir.Valid())
        return Failed(ErrorText(errno));
    const std::string srcName = NamePart(path);
    const TFd src(::openat(srcDir.Get(), srcName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!src.Valid())
        return Failed(path + ": " + ErrorText(errno));
    struct stat st {};
    if (::fstat(src.Get(), &st) != 0)
        return Failed(ErrorText(errno));
    if (!S_ISREG(st.st_mode))
        return Failed(path + ": not a regular file");
    TMoveResult r = Move(src.Get(), st, srcDir.Get(), srcName, dirFd.Get(), name, 0400);
    if (r.Status == msMoved) {
        // A renamed file is the same inode: it loses its execute bits here. When it belongs to
        // someone else this may be refused; the private folder still keeps others from it.
        ::fchmod(src.Get(), 0400);
        ::fsync(dirFd.Get());
    }
    return r;
}

TMoveResult TLinuxQuarantineFiles::MoveOut(const std::string& dir, const std::string& name,
                                           const std::string& target, const TFileFacts& facts) {
    if (Exists(target)) {
        TMoveResult r;
        r.Status = msNameTaken;
        return r;
    }
    const std::string targetDir = DirPart(target);
    if (!MakeDirectories(targetDir, 0755))
        return Failed(targetDir + ": " + ErrorText(errno));
    const TFd dirFd = OpenDir(dir);
    const TFd dstDir = OpenDir(targetDir);
    if (!dirFd.Valid() || !dstDir.Valid())
        return Failed(ErrorText(errno));
    const TFd src(::openat(dirFd.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!src.Valid())
        return Failed(dir + "/" + name + ": " + ErrorText(errno));
    struct stat st {};
    if (::fstat(src.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Failed(dir + "/" + name + ": not a regular file");
    TMoveResult r = Move(src.Get(), st, dirFd.Get(), name, dstDir.Get(), NamePart(target), 0600);
    if (r.Status != msMoved)
        return r;
    // The file at target now is the one moved (the same inode, or the checked copy).
    const TFd placed(::openat(dstDir.Get(), NamePart(target).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    std::string error;
    if (!placed.Valid() || !ApplyFacts(placed.Get(), facts, error))
        r.Error = placed.Valid() ? error : ErrorText(errno);
    ::fsync(dstDir.Get());
    return r;
}

bool TLinuxQuarantineFiles::AppendLine(const std::string& file, const std::string& line) {
    struct stat st {};
    if (::stat(DirPart(file).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    const TFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.Valid())
        return false;
    const std::string text = line + "\n";
    return ::write(fd.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::vector<std::string> TLinuxQuarantineFiles::List(const std::string& dir) const {
    return SortedNames(dir);
}

bool TLinuxQuarantineFiles::Delete(const std::string& dir, const std::string& name) {
    const TFd dirFd = OpenDir(dir);
    return dirFd.Valid() && ::unlinkat(dirFd.Get(), name.c_str(), 0) == 0;
}

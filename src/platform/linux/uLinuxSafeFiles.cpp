#include "platform/linux/uLinuxSafeFiles.h"

#include <dirent.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace qm::linuxfs {

std::string DirPart(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NamePart(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MakeDirectories(const std::string& given, mode_t mode) {
    std::string path = given;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty())
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash), 0755))
        return false;
    if (::mkdir(path.c_str(), mode) == 0) {
        ::chmod(path.c_str(), mode); // the umask may have taken bits that were asked for
        return true;
    }
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TFd OpenDir(const std::string& path) {
    return TFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

TFileFacts FactsOf(const struct stat& st) {
    TFileFacts f;
    f.Mode = st.st_mode & 07777;
    f.Uid = st.st_uid;
    f.Gid = st.st_gid;
    f.ModifiedSec = st.st_mtim.tv_sec;
    f.ModifiedNsec = st.st_mtim.tv_nsec;
    f.Size = static_cast<std::uint64_t>(st.st_size);
    return f;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

namespace {

ssize_t ReadAt(int fd, char* buffer, std::size_t size, off_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, size, offset);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// Writes src into dst from the start; the number of bytes, or -1 (errno set).
off_t CopyBytes(int src, int dst) {
    std::vector<char> buffer(1 << 16);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ReadAt(src, buffer.data(), buffer.size(), offset);
        if (n < 0)
            return -1;
        if (n == 0)
            return offset;
        if (!WriteAll(dst, buffer.data(), static_cast<std::size_t>(n)))
            return -1;
        offset += n;
    }
}

// True when both files hold the same bytes; errno set when they differ or a read failed.
bool SameBytes(int a, int b) {
    std::vector<char> x(1 << 16), y(1 << 16);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ReadAt(a, x.data(), x.size(), offset);
        if (n < 0)
            return false;
        if (n == 0) {
            const ssize_t more = ReadAt(b, y.data(), 1, offset);
            errno = more == 0 ? 0 : EIO; // the copy must end where its source does
            return more == 0;
        }
        std::size_t got = 0;
        while (got < static_cast<std::size_t>(n)) {
            const ssize_t m = ReadAt(b, y.data() + got, static_cast<std::size_t>(n) - got,
                                     offset + static_cast<off_t>(got));
            if (m <= 0) {
                if (m == 0)
                    errno = EIO;
                return false;
            }
            got += static_cast<std::size_t>(m);
        }
        if (std::memcmp(x.data(), y.data(), got) != 0) {
            errno = EIO;
            return false;
        }
        offset += n;
    }
}

} // namespace

bool CopyInto(int srcFd, int dirFd, const std::string& name, mode_t mode, std::string& error, bool* eexist) {
    if (eexist)
        *eexist = false;
    struct stat st {};
    if (::fstat(srcFd, &st) != 0) {
        error = ErrorText(errno);
        return false;
    }
    // Readable by us while it is written and checked; the asked mode only once it is complete.
    TFd dst(::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!dst.Valid()) {
        if (eexist)
            *eexist = errno == EEXIST;
        error = ErrorText(errno);
        return false;
    }
    const auto fail = [&](int err) {
        error = ErrorText(err);
        ::unlinkat(dirFd, name.c_str(), 0);
        return false;
    };
    const off_t copied = CopyBytes(srcFd, dst.Get());
    if (copied < 0)
        return fail(errno);
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (::futimens(dst.Get(), times) != 0 || ::fsync(dst.Get()) != 0)
        return fail(errno);
    if (!SameBytes(srcFd, dst.Get()))
        return fail(errno ? errno : EIO);
    if (::fchmod(dst.Get(), mode) != 0 || ::fsync(dst.Get()) != 0 || ::fsync(dirFd) != 0)
        return fail(errno);
    return true;
}

bool ApplyFacts(int fd, const TFileFacts& facts, std::string& error) {
    bool ok = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = ErrorText(errno);
        return false;
    }
    // The owner first: a change of owner clears the set-id bits that the mode then puts back.
    if ((st.st_uid != facts.Uid || st.st_gid != facts.Gid) && ::fchown(fd, facts.Uid, facts.Gid) != 0) {
        error =
            "owner " + std::to_string(facts.Uid) + ":" + std::to_string(facts.Gid) + ": " + ErrorText(errno);
        ok = false;
    }
    if (::fchmod(fd, static_cast<mode_t>(facts.Mode & 07777)) != 0) {
        error = ErrorText(errno);
        ok = false;
    }
    const timespec times[2] = {
        {0, UTIME_OMIT}, {static_cast<time_t>(facts.ModifiedSec), static_cast<long>(facts.ModifiedNsec)}};
    if (::futimens(fd, times) != 0) {
        error = ErrorText(errno);
        ok = false;
    }
    return ok;
}

std::vector<std::string> SortedNames(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}
} // namespace qm::linuxfs

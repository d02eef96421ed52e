#include "platform/linux/uLinuxPlatform.h"

#include "platform/linux/uFd.h"
#include "util/uQmError.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QM_FILE_VERSION
#error "QM_FILE_VERSION comes from the CMake project version"
#endif

namespace {

using qm::TFd;

class TLinuxReadFile : public IReadFile {
public:
    explicit TLinuxReadFile(int fd) : FFd(fd) {}
    std::int64_t SeekEnd() override {
        const off_t end = ::lseek(FFd.Get(), 0, SEEK_END);
        return end < 0 ? -1 : static_cast<std::int64_t>(end);
    }
    std::optional<std::uint8_t> ReadByteAt(std::int64_t offset) override {
        if (offset < 0)
            return std::nullopt;
        unsigned char b = 0;
        const ssize_t n = ::pread(FFd.Get(), &b, 1, static_cast<off_t>(offset));
        if (n != 1)
            return std::nullopt;
        return b;
    }

private:
    TFd FFd;
};

class TLinuxNamedMutex : public INamedMutex {
public:
    explicit TLinuxNamedMutex(int fd) : FFd(fd) {}

private:
    TFd FFd;
};

bool StatPath(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

TLinuxProgramImage::TLinuxProgramImage(std::string procDir) : FProcDir(std::move(procDir)) {}

std::string TLinuxProgramImage::ExecutablePath() const {
    char buf[PATH_MAX + 1];
    const std::string link = FProcDir + "/self/exe";
    const ssize_t n = ::readlink(link.c_str(), buf, PATH_MAX);
    if (n <= 0)
        throw EQmError("Cannot read " + link);
    std::string path(buf, static_cast<std::size_t>(n));
    static const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    return path;
}

std::string TLinuxProgramImage::FileVersion() const {
    return QM_FILE_VERSION;
}

qm::TDateTime UnixTimeToLocalDateTime(long long seconds, long nanoseconds) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (!::localtime_r(&t, &local))
        return 0;
    qm::TDateParts p;
    p.Year = local.tm_year + 1900;
    p.Month = local.tm_mon + 1;
    p.Day = local.tm_mday;
    p.Hour = local.tm_hour;
    p.Minute = local.tm_min;
    p.Second = local.tm_sec;
    p.Millisecond = static_cast<int>(nanoseconds / 1000000);
    return qm::EncodeDateTime(p);
}

qm::TDateTime TLinuxClock::Now() const {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return UnixTimeToLocalDateTime(ts.tv_sec, ts.tv_nsec);
}

std::optional<TFileStamp> TLinuxFileSystem::Stamp(const std::string& path) const {
    struct stat st {};
    if (!StatPath(path, st))
        return std::nullopt;
    TFileStamp stamp;
    stamp.Size = static_cast<std::uint64_t>(st.st_size);
    stamp.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.Inode = static_cast<std::uint64_t>(st.st_ino);
    return stamp;
}

bool TLinuxFileSystem::FileExists(const std::string& path) const {
    struct stat st {};
    return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool TLinuxFileSystem::DirectoryExists(const std::string& path) const {
    struct stat st {};
    return StatPath(path, st) && S_ISDIR(st.st_mode);
}

std::optional<std::uint64_t> TLinuxFileSystem::FileSize(const std::string& path) const {
    struct stat st {};
    if (!StatPath(path, st) || S_ISDIR(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<qm::TDateTime> TLinuxFileSystem::LastWriteTime(const std::string& path) const {
    struct stat st {};
    if (!StatPath(path, st))
        return std::nullopt;
    return UnixTimeToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

std::unique_ptr<IReadFile> TLinuxFileSystem::OpenRead(const std::string& path) const {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<TLinuxReadFile>(fd);
}

std::optional<std::string> TLinuxFileSystem::ReadAll(const std::string& path) const {
    // Only a regular file: a FIFO or a device in a file's place must not block or flood the reader.
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::string content;
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        content.append(buf, static_cast<std::size_t>(n));
    }
    return content;
}

namespace {

// The file a path names after following its symbolic links (a dangling link names the file it
// would create). Empty when the links loop.
std::string ResolveLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
            return {};
        target.resize(static_cast<std::size_t>(n));
        if (target.front() != '/') {
            const auto slash = path.find_last_of('/');
            target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
        }
        path = std::move(target);
    }
    return {};
}

} // namespace

bool TLinuxFileSystem::ReplaceFile(const std::string& path, const std::string& content) {
    // A symbolic link stays a link: the file it points at is replaced, in its own folder.
    const std::string target = ResolveLinks(path);
    if (target.empty())
        return false;
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode))
            return false;
        // The read-only mark is the user's answer, also to root, who could replace the file anyway.
        if ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)
            return false;
    }
    // The temporary file lies in the same folder, so the rename is atomic on every filesystem.
    std::string tmpl = target + ".XXXXXX";
    TFd fd(::mkstemp(tmpl.data()));
    if (fd.Get() < 0)
        return false;
    auto fail = [&tmpl]() {
        ::unlink(tmpl.c_str());
        return false;
    };
    if (exists) {
        // The file keeps its owner: root gives it back; anyone else keeps at least its group when
        // a member of it. The mode is set afterwards, since a change of owner clears set-id bits.
        const bool root = ::geteuid() == 0;
        if (::fchown(fd.Get(), root ? old.st_uid : static_cast<uid_t>(-1), old.st_gid) != 0 && root)
            return fail();
    }
    ::fchmod(fd.Get(), exists ? (old.st_mode & 07777) : 0644);
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd.Get(), content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail();
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.Get()) != 0)
        return fail();
    if (::close(fd.Release()) != 0)
        return fail();
    // The folder is not synced: after a power loss the file is the old one or the new one, both
    // whole, and a sync per write would double the cost of the statistics' writes.
    if (::rename(tmpl.c_str(), target.c_str()) != 0)
        return fail();
    return true;
}

namespace {
bool MakeDirectories(const std::string& path, mode_t mode) {
    if (path.empty())
        return false;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (!partial.empty())
            ::mkdir(partial.c_str(), mode);
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
} // namespace

bool TLinuxFileSystem::CreateDirectories(const std::string& path) {
    return MakeDirectories(path, 0755);
}

bool TLinuxFileSystem::CreatePrivateDirectories(const std::string& path) {
    return MakeDirectories(path, 0700);
}

bool TLinuxFileSystem::IsWritableDirectory(const std::string& path) const {
    // access() also answers for a read-only mount, which a root process could not write either.
    return DirectoryExists(path) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

TUserFolders QmUserFolders() {
    const auto env = [](const char* name) -> std::string {
        const char* value = std::getenv(name);
        return value ? value : "";
    };
    const std::string home = env("HOME");
    // Relative values are invalid by the XDG rules and are ignored.
    const auto pick = [&](const char* name, const char* underHome) {
        const std::string value = env(name);
        if (!value.empty() && value.front() == '/')
            return value;
        return home.empty() ? std::string() : home + underHome;
    };
    return {.ConfigHome = pick("XDG_CONFIG_HOME", "/.config"),
            .DataHome = pick("XDG_DATA_HOME", "/.local/share")};
}

std::string QmRuntimeDir() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    std::string dir =
        (xdg && *xdg) ? std::string(xdg) + "/QmVardel" : "/tmp/QmVardel-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

std::unique_ptr<INamedMutex> TLinuxNamedMutexFactory::Create(const std::string& name) {
    const std::string path = QmRuntimeDir() + "/" + name + ".lock";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::make_unique<TLinuxNamedMutex>(-1);
    ::flock(fd, LOCK_SH | LOCK_NB);
    return std::make_unique<TLinuxNamedMutex>(fd);
}

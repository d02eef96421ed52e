#include "uProcInfo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

std::string ReadSmall(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string out;
    char buf[4096];
    ssize_t n;
    // A /proc file gives all it has in one read when it fits: a short read is its end, and asking
    // again would cost a system call per file on every program start.
    while ((n = ::read(fd, buf, sizeof(buf))) > 0 && out.size() < 65536) {
        out.append(buf, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < sizeof(buf))
            break;
    }
    ::close(fd);
    return out;
}

std::string ReadLink(const std::string& path) {
    char buf[4096];
    ssize_t n = ::readlink(path.c_str(), buf, sizeof(buf));
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::string Proc(const std::string& procDir, pid_t pid, const char* what) {
    return procDir + "/" + std::to_string(pid) + "/" + what;
}

// Fields after the command name in /proc/<pid>/stat (the name may hold blanks and parentheses).
std::vector<std::string> StatFields(pid_t pid, const std::string& procDir) {
    std::string s = ReadSmall(Proc(procDir, pid, "stat"));
    std::size_t close = s.rfind(')');
    std::vector<std::string> out;
    if (close == std::string::npos)
        return out;
    std::size_t i = close + 1;
    while (i < s.size()) {
        std::size_t b = s.find_first_not_of(' ', i);
        if (b == std::string::npos)
            break;
        std::size_t e = s.find(' ', b);
        out.push_back(s.substr(b, e == std::string::npos ? std::string::npos : e - b));
        i = e == std::string::npos ? s.size() : e;
    }
    return out; // [0] is the state (field 3)
}

// Reads another process's memory: process_vm_readv, which needs no descriptor; /proc/<pid>/mem
// where that call is not available. A read never crosses a page, so that a string ending just
// before an unmapped page is read whole.
class TMemoryReader {
public:
    TMemoryReader(pid_t pid, std::string memPath) : FPid(pid), FMemPath(std::move(memPath)) {}
    ~TMemoryReader() {
        if (FMemFd >= 0)
            ::close(FMemFd);
    }
    TMemoryReader(const TMemoryReader&) = delete;
    TMemoryReader& operator=(const TMemoryReader&) = delete;

    // The bytes read from address on (at most size, up to the end of its page); -1 on failure.
    ssize_t ReadInPage(std::uint64_t address, void* out, std::size_t size) {
        const std::uint64_t toPageEnd = kPage - (address % kPage);
        if (size > toPageEnd)
            size = static_cast<std::size_t>(toPageEnd);
        if (!FUseFile) {
            iovec local{out, size};
            iovec remote{reinterpret_cast<void*>(address), size};
            ssize_t n = ::process_vm_readv(FPid, &local, 1, &remote, 1, 0);
            if (n >= 0 || (errno != ENOSYS && errno != EPERM))
                return n;
            FUseFile = true;
            FMemFd = ::open(FMemPath.c_str(), O_RDONLY | O_CLOEXEC);
        }
        return FMemFd < 0 ? -1 : ::pread(FMemFd, out, size, static_cast<off_t>(address));
    }
    bool ReadAll(std::uint64_t address, void* out, std::size_t size) {
        auto* bytes = static_cast<char*>(out);
        while (size > 0) {
            const ssize_t n = ReadInPage(address, bytes, size);
            if (n <= 0)
                return false;
            address += static_cast<std::uint64_t>(n);
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    static constexpr std::uint64_t kPage = 4096; // the smallest page: a read within it never faults halfway
    pid_t FPid;
    std::string FMemPath;
    bool FUseFile = false;
    int FMemFd = -1;
};

} // namespace

std::string JoinCommandLine(const std::vector<std::string>& argv) {
    std::string out;
    for (const std::string& a : argv) {
        if (!out.empty())
            out += ' ';
        if (a.empty() || a.find_first_of(" \t") != std::string::npos)
            out += '"' + a + '"';
        else
            out += a;
    }
    return out;
}

std::string PendingExecCommandLine(pid_t pid, const std::string& procDir, std::size_t maxArgs) {
    // "<nr> <arg0> <arg1> ..." while the task is blocked in a system call. The permission event can
    // reach us a moment before the task has gone to sleep waiting for it ("running"): try again
    // briefly.
    std::string sc;
    for (int attempt = 0; attempt < 200; ++attempt) {
        sc = ReadSmall(Proc(procDir, pid, "syscall"));
        if (sc.rfind("running", 0) != 0)
            break;
        ::sched_yield();
    }
    char* end = nullptr;
    long nr = std::strtol(sc.c_str(), &end, 10);
    if (end == sc.c_str())
        return {};
    std::vector<std::uint64_t> args;
    const char* p = end;
    while (*p == ' ') {
        args.push_back(std::strtoull(p + 1, &end, 16));
        p = end;
    }
    std::uint64_t argvAddress = 0;
    if (nr == SYS_execve && args.size() >= 2)
        argvAddress = args[1];
    else if (nr == SYS_execveat && args.size() >= 3)
        argvAddress = args[2];
    else
        return {};
    TMemoryReader memory(pid, Proc(procDir, pid, "mem"));
    // The pointer array (at most 256 arguments); it may end close to the end of its mapping, so
    // only what is readable counts.
    std::uint64_t pointers[256] = {};
    std::size_t got = 0;
    const std::size_t wanted = std::min<std::size_t>(maxArgs + 1, 256) * 8; // with the null pointer
    // Read in small steps up to the null pointer: most programs get a few arguments.
    bool nullSeen = false;
    while (got < wanted && !nullSeen) {
        const std::size_t step =
            std::min<std::size_t>(got == 0 ? std::max<std::size_t>(wanted, 16) : 128, sizeof(pointers) - got);
        const ssize_t n = memory.ReadInPage(argvAddress + got, reinterpret_cast<char*>(pointers) + got, step);
        if (n <= 0)
            break;
        for (std::size_t k = got / 8; k < (got + static_cast<std::size_t>(n)) / 8; ++k)
            nullSeen = nullSeen || pointers[k] == 0;
        got += static_cast<std::size_t>(n);
    }
    std::vector<std::string> argv;
    std::size_t total = 0;
    for (std::size_t i = 0; i < got / 8 && i < maxArgs && pointers[i] != 0 && total < 4096; ++i) {
        std::string arg;
        char chunk[256];
        bool ended = false;
        for (std::uint64_t at = pointers[i]; !ended && arg.size() < 4096;) {
            const ssize_t n = memory.ReadInPage(at, chunk, sizeof(chunk));
            if (n <= 0)
                break;
            for (ssize_t k = 0; k < n; ++k) {
                if (chunk[k] == '\0') {
                    ended = true;
                    break;
                }
                arg += chunk[k];
            }
            at += static_cast<std::uint64_t>(n);
        }
        total += arg.size();
        argv.push_back(arg);
    }
    return JoinCommandLine(argv);
}

std::vector<std::string> ProcessArgs(pid_t pid, const std::string& procDir) {
    std::string raw = ReadSmall(Proc(procDir, pid, "cmdline"));
    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (raw[i] == '\0') {
            args.push_back(raw.substr(start, i - start));
            start = i + 1;
        }
    if (start < raw.size())
        args.push_back(raw.substr(start));
    return args;
}

std::string ProcessCwd(pid_t pid, const std::string& procDir) {
    return ReadLink(Proc(procDir, pid, "cwd"));
}

std::string ProcessExe(pid_t pid, const std::string& procDir) {
    std::string exe = ReadLink(Proc(procDir, pid, "exe"));
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
        exe.resize(exe.size() - deleted.size());
    return exe;
}

pid_t ParentPid(pid_t pid, const std::string& procDir) {
    std::vector<std::string> f = StatFields(pid, procDir);
    return f.size() > 1 ? static_cast<pid_t>(std::atoi(f[1].c_str())) : 0;
}

TProcessIds ProcessParentAndUid(pid_t pid, const std::string& procDir) {
    TProcessIds ids;
    if (pid <= 0)
        return ids;
    // status lists "Name", "Umask", "State", "Tgid", "Ngid", "Pid", "PPid", "TracerPid", "Uid", ...:
    // the lines wanted lie within the first few hundred bytes, whatever the name holds (it is
    // escaped, one line).
    const int fd = ::open(Proc(procDir, pid, "status").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ids;
    char buf[1024];
    const ssize_t n = ::read(fd, buf, sizeof(buf) - 1);
    ::close(fd);
    if (n <= 0)
        return ids;
    buf[n] = '\0';
    auto field = [&](const char* name) -> const char* {
        const std::size_t len = std::strlen(name);
        for (const char* line = buf; line && *line;) {
            if (std::strncmp(line, name, len) == 0)
                return line + len;
            line = std::strchr(line, '\n');
            if (line)
                ++line;
        }
        return nullptr;
    };
    const char* tgid = field("Tgid:");
    const char* ppid = field("PPid:");
    const char* uid = field("Uid:");
    if (!tgid || !ppid || !uid)
        return ids;
    char* end = nullptr;
    const unsigned long real = std::strtoul(uid, &end, 10); // real, effective, saved, filesystem
    if (end == uid)
        return ids;
    ids.Process = static_cast<pid_t>(std::atoi(tgid));
    ids.Parent = static_cast<pid_t>(std::atoi(ppid));
    ids.Uid = static_cast<uid_t>(real);
    return ids;
}

namespace {

// The first published layout of the pidfd information (64 bytes); the kernel fills what it has of it.
struct TPidfdInfo {
    std::uint64_t Mask = 0, CgroupId = 0;
    std::uint32_t Pid = 0, Tgid = 0, Ppid = 0, Ruid = 0, Rgid = 0, Euid = 0, Egid = 0, Suid = 0, Sgid = 0,
                  Fsuid = 0, Fsgid = 0;
    std::int32_t ExitCode = 0;
};
static_assert(sizeof(TPidfdInfo) == 64);
constexpr std::uint64_t kPidfdInfoPid = 1, kPidfdInfoCreds = 2;
constexpr unsigned long kPidfdGetInfo = _IOWR(0xFF, 11, TPidfdInfo);
constexpr unsigned kPidfdThread = O_EXCL; // a pidfd for a thread, not only a thread group

} // namespace

TProcessIds TaskIds(pid_t tid) {
    static std::atomic<bool> noPidfdInfo{false};
    if (tid > 0 && !noPidfdInfo.load(std::memory_order_relaxed)) {
        const int fd = static_cast<int>(::syscall(SYS_pidfd_open, tid, kPidfdThread));
        if (fd >= 0) {
            TPidfdInfo info;
            info.Mask = kPidfdInfoPid | kPidfdInfoCreds;
            const int rc = ::ioctl(fd, kPidfdGetInfo, &info);
            const int error = errno;
            ::close(fd);
            if (rc == 0 &&
                (info.Mask & (kPidfdInfoPid | kPidfdInfoCreds)) == (kPidfdInfoPid | kPidfdInfoCreds)) {
                TProcessIds ids;
                ids.Process = static_cast<pid_t>(info.Tgid);
                ids.Parent = static_cast<pid_t>(info.Ppid);
                ids.Uid = static_cast<uid_t>(info.Ruid);
                return ids;
            }
            if (rc != 0 && error == ESRCH)
                return {}; // gone since
            if (rc != 0 && (error == ENOTTY || error == EINVAL || error == EOPNOTSUPP))
                noPidfdInfo = true; // a kernel before the ioctl
        } else if (errno == ESRCH) {
            return {};
        } else if (errno == EINVAL || errno == ENOSYS) {
            noPidfdInfo = true; // no pidfds, or none for threads
        }
    }
    return ProcessParentAndUid(tid);
}

uid_t ProcessUid(pid_t pid, const std::string& procDir) {
    return ProcessParentAndUid(pid, procDir).Uid;
}

bool IsOpeningElfLoader(pid_t pid, const std::string& procDir) {
    // The loader is opened by the ELF handler of the execve in progress; the same file opened as the
    // program of a new execve (after an earlier one failed) is not. The kernel's own record of the
    // call chain tells the two apart, which nothing in the process's memory can fake.
    const std::string stack = ReadSmall(Proc(procDir, pid, "stack"));
    return stack.find(" load_elf_binary+") != std::string::npos;
}

unsigned long long ProcessStartTime(pid_t pid, const std::string& procDir) {
    std::vector<std::string> f = StatFields(pid, procDir);
    return f.size() > 19 ? std::strtoull(f[19].c_str(), nullptr, 10) : 0; // field 22
}

bool IsSelfOrDescendant(pid_t pid, pid_t ancestor, int maxDepth, const std::string& procDir) {
    for (int i = 0; i <= maxDepth && pid > 1; ++i) {
        if (pid == ancestor)
            return true;
        pid = ParentPid(pid, procDir);
    }
    return pid == ancestor;
}

std::vector<pid_t> ProcessesHolding(const std::string& path, const std::string& procDir) {
    // Descriptor links name their file by path; comparing the names costs one readlink per descriptor.
    std::vector<pid_t> out;
    DIR* d = ::opendir(procDir.c_str());
    if (!d)
        return out;
    char target[4096];
    while (dirent* e = ::readdir(d)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == ::getpid())
            continue;
        std::string fdDir = procDir + "/" + e->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue;
        int dirFd = ::dirfd(fds);
        while (dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.')
                continue;
            ssize_t n = ::readlinkat(dirFd, f->d_name, target, sizeof(target));
            if (n == static_cast<ssize_t>(path.size()) && path.compare(0, path.size(), target, n) == 0) {
                out.push_back(static_cast<pid_t>(pid));
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(d);
    return out;
}

std::string DescriptorPath(int fd) {
    return ReadLink("/proc/self/fd/" + std::to_string(fd));
}

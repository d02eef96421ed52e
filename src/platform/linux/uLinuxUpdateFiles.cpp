#include "platform/linux/uLinuxUpdateFiles.h"

#include "platform/linux/uFd.h"
#include "util/uFormat.h"
#include "util/uQmError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace {

using qm::TFd;
using qm::WriteAll;

std::string ErrnoText() {
    return std::strerror(errno);
}

// Opens (creating or emptying) the regular file name in the folder handle dir.
int OpenRegularAt(int dir, const std::string& name, const std::string& shownName) {
    const int fd =
        ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == ELOOP)
            throw EQmError(qm::Format("Nie można zapisać pliku %s: to dowiązanie symboliczne", shownName));
        throw EQmError(qm::Format("Nie można utworzyć pliku %s: %s", shownName, ErrnoText()));
    }
    TFd file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw EQmError(qm::Format("Nie można zapisać pliku %s: to nie jest zwykły plik", shownName));
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0)
        throw EQmError(qm::Format("Nie można zapisać pliku %s: %s", shownName, ErrnoText()));
    return file.Release();
}

class TPosixDownloadFile : public IDownloadFile {
public:
    explicit TPosixDownloadFile(int fd) : FFd(fd) {}
    bool Write(std::string_view data) override {
        return FOk && WriteAll(FFd.Get(), data.data(), data.size());
    }
    bool Reset() override { return ::ftruncate(FFd.Get(), 0) == 0 && ::lseek(FFd.Get(), 0, SEEK_SET) == 0; }
    bool Close() override {
        const int fd = FFd.Release();
        // No fsync: a received file is only read back; what is installed is written atomically.
        return fd >= 0 && ::close(fd) == 0;
    }

private:
    TFd FFd;
    bool FOk = true;
};

int OpenFolder(const std::string& folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        throw EQmError(qm::Format("Nie można otworzyć katalogu %s: %s", folder, ErrnoText()));
    return dir;
}

// The components of an archive entry name, or a failure when it could leave its folder.
std::vector<std::string> EntryComponents(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
        name.find(':') != std::string::npos)
        throw EQmError(qm::Format("Niedozwolona nazwa w archiwum: %s", name));
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t slash = name.find('/', start);
        const std::string part =
            name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..")
            throw EQmError(qm::Format("Niedozwolona nazwa w archiwum: %s", name));
        for (const char c : part)
            if (static_cast<unsigned char>(c) < 0x20)
                throw EQmError(qm::Format("Niedozwolona nazwa w archiwum: %s", name));
        if (!part.empty() && part != ".")
            parts.push_back(part);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    if (parts.empty())
        throw EQmError(qm::Format("Niedozwolona nazwa w archiwum: %s", name));
    return parts;
}

// Opens (making it when missing) the sub-folder part below dir, never through a symbolic link.
int DescendInto(int dir, const std::string& part, const std::string& entry) {
    if (::mkdirat(dir, part.c_str(), 0755) != 0 && errno != EEXIST)
        throw EQmError(qm::Format("Nie można utworzyć katalogu dla %s: %s", entry, ErrnoText()));
    const int sub = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0)
        throw EQmError(qm::Format("Niedozwolona ścieżka w archiwum: %s", entry));
    return sub;
}

class TZip {
public:
    explicit TZip(zip_t* z) : FZip(z) {}
    ~TZip() { zip_discard(FZip); }
    zip_t* Get() const { return FZip; }

private:
    zip_t* FZip;
};

} // namespace

std::unique_ptr<IDownloadFile> TLinuxUpdateFiles::CreateInFolder(const std::string& folder,
                                                                 const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw EQmError(qm::Format("Niedozwolona nazwa pliku \"%s\"", name));
    TFd dir(OpenFolder(folder));
    return std::make_unique<TPosixDownloadFile>(OpenRegularAt(dir.Get(), name, folder + name));
}

bool TLinuxUpdateFiles::DeleteFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::unlink(path.c_str()) == 0;
}

TUnzipResult TLinuxUpdateFiles::Unzip(const std::string& archive, const std::string& folder,
                                      const std::string& password, const TUnzipLimits& limits) {
    int error = 0;
    zip_t* raw = zip_open(archive.c_str(), ZIP_RDONLY, &error);
    if (!raw)
        throw EQmError(qm::Format("Uszkodzone archiwum %s", archive));
    TZip zip(raw);
    if (!password.empty())
        zip_set_default_password(zip.Get(), password.c_str());
    const zip_int64_t count = zip_get_num_entries(zip.Get(), 0);
    if (count < 0 || static_cast<std::uint64_t>(count) > limits.MaxEntries)
        throw EQmError(qm::Format("Archiwum ma więcej niż %u pozycji", limits.MaxEntries));
    TFd root(OpenFolder(folder));
    TUnzipResult result;
    std::uint64_t total = 0;
    std::vector<char> buffer(64 * 1024);
    for (zip_int64_t i = 0; i < count; ++i) {
        const zip_uint64_t index = static_cast<zip_uint64_t>(i);
        const char* rawName = zip_get_name(zip.Get(), index, ZIP_FL_ENC_GUESS);
        if (!rawName)
            throw EQmError(qm::Format("Uszkodzone archiwum %s", archive));
        const std::string name = rawName;
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(zip.Get(), index, 0, &system, &attributes) == 0 &&
            system == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK) {
            result.Skipped.push_back(name);
            continue;
        }
        const std::vector<std::string> parts = EntryComponents(name);
        const bool isFolder = name.back() == '/';
        TFd dir(::dup(root.Get()));
        const std::size_t folders = isFolder ? parts.size() : parts.size() - 1;
        for (std::size_t p = 0; p < folders; ++p)
            dir.Reset(DescendInto(dir.Get(), parts[p], name));
        if (isFolder)
            continue;
        const std::string target = folder + name;
        TFd out(OpenRegularAt(dir.Get(), parts.back(), target));
        zip_file_t* entry = zip_fopen_index(zip.Get(), index, 0);
        if (!entry)
            throw EQmError(qm::Format("Nie można odczytać %s z archiwum: %s", name, zip_strerror(zip.Get())));
        for (;;) {
            const zip_int64_t n = zip_fread(entry, buffer.data(), buffer.size());
            if (n < 0) {
                zip_fclose(entry);
                throw EQmError(qm::Format("Nie można odczytać %s z archiwum", name));
            }
            if (n == 0)
                break;
            total += static_cast<std::uint64_t>(n);
            if (total > limits.MaxTotalBytes) {
                zip_fclose(entry);
                throw EQmError(qm::Format("Archiwum rozpakowuje się do więcej niż %u MB",
                                          limits.MaxTotalBytes / (1024 * 1024)));
            }
            if (!WriteAll(out.Get(), buffer.data(), static_cast<std::size_t>(n))) {
                zip_fclose(entry);
                throw EQmError(qm::Format("Nie można zapisać pliku %s: %s", target, ErrnoText()));
            }
        }
        zip_fclose(entry);
        result.Extracted.push_back(target);
    }
    return result;
}

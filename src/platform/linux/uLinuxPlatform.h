#pragma once
// The Linux implementations of the basic ports: program image, clock, files, named mutex.
#include "platform/IClock.h"
#include "platform/IFileSystem.h"
#include "platform/INamedMutex.h"
#include "platform/IProgramImage.h"

#include <string>

class TLinuxProgramImage : public IProgramImage {
public:
    // procDir is the proc root ("/proc"), a parameter so tests can point it elsewhere.
    explicit TLinuxProgramImage(std::string procDir = "/proc");
    std::string ExecutablePath() const override;
    std::string FileVersion() const override;

private:
    std::string FProcDir;
};

class TLinuxClock : public IClock {
public:
    qm::TDateTime Now() const override;
};

// Converts seconds and nanoseconds since 1970 (UTC) to a local date-time.
qm::TDateTime UnixTimeToLocalDateTime(long long seconds, long nanoseconds);

class TLinuxFileSystem : public IFileSystem {
public:
    std::optional<TFileStamp> Stamp(const std::string& path) const override;
    bool FileExists(const std::string& path) const override;
    bool DirectoryExists(const std::string& path) const override;
    std::optional<std::uint64_t> FileSize(const std::string& path) const override;
    std::optional<qm::TDateTime> LastWriteTime(const std::string& path) const override;
    std::unique_ptr<IReadFile> OpenRead(const std::string& path) const override;
    std::optional<std::string> ReadAll(const std::string& path) const override;
    bool ReplaceFile(const std::string& path, const std::string& content) override;
    bool CreateDirectories(const std::string& path) override;
    bool CreatePrivateDirectories(const std::string& path) override;
    bool IsWritableDirectory(const std::string& path) const override;
};

// The named mutex is a shared advisory lock on <runtime dir>/QmVardel/<name>.lock: other programs
// (an installer) can test whether a copy runs with a non-blocking exclusive lock; we never wait.
class TLinuxNamedMutexFactory : public INamedMutexFactory {
public:
    std::unique_ptr<INamedMutex> Create(const std::string& name) override;
};

// $XDG_CONFIG_HOME and $XDG_DATA_HOME with their defaults under $HOME; empty when neither is known.
TUserFolders QmUserFolders();

// $XDG_RUNTIME_DIR/QmVardel, or /tmp/QmVardel-<uid> when that variable is unset; created 0700.
std::string QmRuntimeDir();

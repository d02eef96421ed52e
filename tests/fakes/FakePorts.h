#pragma once
// Recording fakes of the basic ports, for tests of the Qt-free layers.
#include "platform/IClock.h"
#include "platform/IFileSystem.h"
#include "platform/INamedMutex.h"
#include "platform/IProgramImage.h"
#include "platform/ITimer.h"
#include "util/uQmError.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class TFakeClock : public IClock {
public:
    qm::TDateTime Time = 45000.5;
    qm::TDateTime Now() const override { return Time; }
};

class TFakeProgramImage : public IProgramImage {
public:
    std::string Path = "/opt/qmvardel/QmVardel";
    std::string Version = "1.0.0.28";
    bool VersionReadable = true;
    std::string ExecutablePath() const override { return Path; }
    std::string FileVersion() const override {
        if (!VersionReadable)
            throw EQmError("No version information");
        return Version;
    }
};

// An in-memory file system. Files are byte strings; folders are implied by file paths and by
// CreateDirectories. A path in ReadOnlyDirs refuses every replacement below it.
class TFakeFileSystem : public IFileSystem {
public:
    struct TFile {
        std::string Content;
        qm::TDateTime Modified = 40000;
        std::int64_t Version = 0;
    };
    std::map<std::string, TFile> Files;
    std::set<std::string> Dirs;
    std::set<std::string> ReadOnlyDirs;
    int Replacements = 0;
    int Reads = 0;

    void Put(const std::string& path, std::string content, qm::TDateTime modified = 40000) {
        auto& f = Files[path];
        f.Content = std::move(content);
        f.Modified = modified;
        ++f.Version;
    }

    std::optional<TFileStamp> Stamp(const std::string& path) const override {
        auto it = Files.find(path);
        if (it == Files.end())
            return std::nullopt;
        return TFileStamp{it->second.Content.size(), it->second.Version, 1};
    }
    bool FileExists(const std::string& path) const override { return Files.count(path) != 0; }
    bool DirectoryExists(const std::string& path) const override { return Dirs.count(path) != 0; }
    std::optional<std::uint64_t> FileSize(const std::string& path) const override {
        auto it = Files.find(path);
        if (it == Files.end())
            return std::nullopt;
        return it->second.Content.size();
    }
    std::optional<qm::TDateTime> LastWriteTime(const std::string& path) const override {
        auto it = Files.find(path);
        if (it == Files.end())
            return std::nullopt;
        return it->second.Modified;
    }
    std::unique_ptr<IReadFile> OpenRead(const std::string& path) const override;
    std::optional<std::string> ReadAll(const std::string& path) const override {
        auto it = Files.find(path);
        if (it == Files.end())
            return std::nullopt;
        ++const_cast<TFakeFileSystem*>(this)->Reads;
        return it->second.Content;
    }
    bool ReplaceFile(const std::string& path, const std::string& content) override {
        for (const std::string& dir : ReadOnlyDirs)
            if (path.starts_with(dir))
                return false;
        ++Replacements;
        Put(path, content);
        return true;
    }
    bool CreateDirectories(const std::string& path) override {
        Dirs.insert(path);
        return true;
    }
    std::set<std::string> PrivateDirs;
    bool CreatePrivateDirectories(const std::string& path) override {
        PrivateDirs.insert(path);
        return CreateDirectories(path);
    }
    bool IsWritableDirectory(const std::string& path) const override {
        for (const std::string& dir : ReadOnlyDirs)
            if (path.starts_with(dir))
                return false;
        return true;
    }
};

class TFakeReadFile : public IReadFile {
public:
    explicit TFakeReadFile(const std::string* content) : FContent(content) {}
    std::int64_t SeekEnd() override { return static_cast<std::int64_t>(FContent->size()); }
    std::optional<std::uint8_t> ReadByteAt(std::int64_t offset) override {
        if (offset < 0 || static_cast<std::uint64_t>(offset) >= FContent->size())
            return std::nullopt;
        return static_cast<std::uint8_t>((*FContent)[static_cast<std::size_t>(offset)]);
    }

private:
    const std::string* FContent;
};

inline std::unique_ptr<IReadFile> TFakeFileSystem::OpenRead(const std::string& path) const {
    auto it = Files.find(path);
    if (it == Files.end())
        return nullptr;
    return std::make_unique<TFakeReadFile>(&it->second.Content);
}

class TFakeMutexFactory : public INamedMutexFactory {
public:
    std::vector<std::string> Created;
    std::unique_ptr<INamedMutex> Create(const std::string& name) override {
        Created.push_back(name);
        return std::make_unique<INamedMutex>();
    }
};

// A timer that ticks only when the test calls Fire.
class TFakeTimer : public ITimer {
public:
    int IntervalMs = 1000;
    bool Single = false;
    bool Active = false;
    int Starts = 0;
    void SetInterval(int ms) override { IntervalMs = ms; }
    int Interval() const override { return IntervalMs; }
    void SetSingleShot(bool s) override { Single = s; }
    void Start() override {
        Active = true;
        ++Starts;
    }
    void Stop() override { Active = false; }
    bool IsActive() const override { return Active; }
    void Fire() {
        if (!Active)
            return;
        if (Single)
            Active = false;
        if (OnTimer)
            OnTimer();
    }
};

class TFakeTimerFactory : public ITimerFactory {
public:
    std::vector<TFakeTimer*> Timers;
    std::unique_ptr<ITimer> CreateTimer() override {
        auto t = std::make_unique<TFakeTimer>();
        Timers.push_back(t.get());
        return t;
    }
};

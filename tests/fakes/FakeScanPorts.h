#pragma once
// Fakes of the disk scan's ports: fixed disks, a scripted file search, a settable monotonic clock
// and a worker that runs its job on the caller's thread.
#include "platform/IBackgroundJob.h"
#include "platform/IFileSearch.h"
#include "platform/IFixedDrives.h"
#include "platform/IMonotonicClock.h"

#include <map>
#include <string>
#include <vector>

class TFakeFixedDrives : public IFixedDrives {
public:
    std::vector<std::string> Drives;
    std::vector<std::string> Roots() const override { return Drives; }
};

// Each root walks its script: a file (its size) or, when IsFolder, a folder report with its
// entry count; each step first moves the clock by StepMs.
class TFakeFileSearch : public IFileSearch {
public:
    struct TStep {
        bool IsFolder = false;
        std::string Path;
        std::uint64_t Value = 0; // file: size; folder: entries
    };
    std::map<std::string, std::vector<TStep>> Trees;
    std::map<std::string, std::uint64_t> InUse;
    class TFakeMonotonicClock* Clock = nullptr;
    std::int64_t StepMs = 0;
    mutable std::vector<std::string> Walked;

    void Walk(const std::string& root, const std::vector<std::string>&, const TOnFolder& onFolder,
              const TOnFile& onFile) const override;
    std::optional<std::uint64_t> EntriesInUse(const std::string& root) const override {
        auto it = InUse.find(root);
        return it == InUse.end() ? std::nullopt : std::optional<std::uint64_t>(it->second);
    }
};

class TFakeMonotonicClock : public IMonotonicClock {
public:
    std::int64_t Now = 1000;
    std::int64_t Milliseconds() const override { return Now; }
};

inline void TFakeFileSearch::Walk(const std::string& root, const std::vector<std::string>&,
                                  const TOnFolder& onFolder, const TOnFile& onFile) const {
    Walked.push_back(root);
    auto it = Trees.find(root);
    if (it == Trees.end())
        return;
    for (const TStep& step : it->second) {
        if (Clock)
            Clock->Now += StepMs;
        if (!(step.IsFolder ? onFolder(step.Path, step.Value) : onFile(step.Path, step.Value)))
            return;
    }
}

// Runs the job at Start, on the calling thread (Deferred: when the test calls RunJob).
class TFakeBackgroundJob : public IBackgroundJob {
public:
    bool Deferred = false;
    int Starts = 0;
    int Joins = 0;
    std::function<void()> Job;
    void Start(std::function<void()> job) override {
        ++Starts;
        Job = std::move(job);
        if (!Deferred)
            RunJob();
    }
    void RunJob() {
        if (Job) {
            auto job = std::move(Job);
            Job = nullptr;
            job();
        }
    }
    void Join() override { ++Joins; }
};

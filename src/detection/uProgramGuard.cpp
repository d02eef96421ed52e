#include "detection/uProgramGuard.h"

#include "platform/uPathDelim.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"
#include "util/uQmError.h"

#include <exception>

std::int32_t TProgramGuard::HandleProgramStart(const qm::TProgramStart& start) {
    if (!FView.ExeMonitoring())
        return 0;
    const std::string path =
        ResolveStartedProgramPath(start.ApplicationName, start.CurrentDirectory, start.CommandLine);
    if (path.empty() || !FContext.Sygnatures.IsDialer(path))
        return 0;
    // The start is refused whatever the removal does, and when the user cannot be asked.
    try {
        if (AskDialer(GetDisplayName(path), false)) {
            if (FContext.ForgetStartAnswers)
                FContext.ForgetStartAnswers();
            return 0;
        }
        // The end of work closed the prompt: the start is refused, but no file is moved and no
        // process ended on nobody's word.
        if (!FView.Ending())
            RemoveAndTell(path);
    } catch (const std::exception& e) {
        FView.ShowError(e.what());
    }
    return 1;
}

std::string TProgramGuard::Absolute(const std::string& path) const {
    if (path.empty() || path.front() == qm::PathDelim)
        return path;
    const std::string cwd = FContext.CurrentDirectory ? FContext.CurrentDirectory() : std::string();
    return cwd.empty() ? path : qm::IncludeTrailingPathDelimiter(cwd) + path;
}

std::string TProgramGuard::ResolveStartedProgramPath(const std::string& applicationName,
                                                     const std::string& currentDirectory,
                                                     const std::string& commandLine) const {
    const IFileSystem& fs = FContext.FileSystem;
    // A full application name is the file being started (the hook service reads it from the
    // kernel), while the command line's head is whatever the starter chose to call it: a dialer
    // must not hide behind another program's name there.
    if (!applicationName.empty() && applicationName.front() == qm::PathDelim &&
        fs.FileExists(applicationName))
        return applicationName;
    // 1. The program named at the head of the command line.
    const std::string line = qm::Trim(commandLine) + " ";
    std::string head;
    if (line.front() == '"') {
        const auto close = line.find('"', 1);
        head = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        head = line.substr(0, line.find(' '));
    }
    if (!head.empty() && fs.FileExists(Absolute(head)))
        return Absolute(head);
    if (applicationName.empty())
        return {};
    // 2. The application name as it stands (a bare name relative to our own folder).
    if (fs.FileExists(Absolute(applicationName)))
        return Absolute(applicationName);
    // 3. The application name in the started program's folder, ours, then each PATH folder. A full
    // path names one file only; no folder can hold it a second time.
    if (applicationName.front() == qm::PathDelim)
        return {};
    std::vector<std::string> dirs{currentDirectory,
                                  FContext.CurrentDirectory ? FContext.CurrentDirectory() : std::string()};
    for (std::string& d : GetSearchPathList())
        dirs.push_back(std::move(d));
    for (const std::string& dir : dirs) {
        if (dir.empty())
            continue;
        const std::string candidate = qm::IncludeTrailingPathDelimiter(dir) + applicationName;
        if (fs.FileExists(candidate))
            return Absolute(candidate);
    }
    return {};
}

std::vector<std::string> TProgramGuard::GetSearchPathList() const {
    std::vector<std::string> out;
    const std::string path = FContext.SearchPath ? FContext.SearchPath() : std::string();
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        std::string piece = path.substr(start, end - start);
        start = end + 1;
        if (piece.empty())
            continue;
        piece = Absolute(piece);
        while (piece.size() > 1 && piece.back() == qm::PathDelim)
            piece.pop_back();
        out.push_back(std::move(piece));
    }
    return out;
}

std::string TProgramGuard::GetDisplayName(const std::string& path) const {
    std::string name = FContext.DisplayNames.DisplayName(path);
    return name.empty() ? path : name;
}

bool TProgramGuard::AskDialer(const std::string& displayName, bool isRunning) {
    FView.SetAlarmTray();
    int answer = dpRemove;
    try {
        answer = FView.ShowDialerPrompt(displayName, isRunning, FView.ChildMode());
    } catch (...) {
        FView.ResetTray();
        throw;
    }
    FView.ResetTray();
    return answer == dpAllow;
}

void TProgramGuard::RemoveAndTell(const std::string& path) {
    if (FContext.Removal.RemoveDialer(path, nullptr))
        FView.ShowInformation(kRemovalMoved +
                              (FContext.QuarantineDir ? FContext.QuarantineDir() : std::string()));
    else
        FView.ShowErrorBox(kDialerRemovalFailed + path);
}

void TProgramGuard::CheckRunningDialers() {
    if (!FView.ExeMonitoring())
        return;
    const auto processes = FContext.Processes.ListExecutables();
    if (!processes)
        return;
    try {
        for (const TProcessExecutable& p : *processes) {
            if (!FContext.Sygnatures.IsDialer(p.Path))
                continue;
            if (AskDialer(GetDisplayName(p.Path), true))
                continue;
            if (FView.Ending())
                return;
            RemoveAndTell(p.Path);
        }
    } catch (const std::exception& e) {
        FView.ShowError(e.what());
    }
}

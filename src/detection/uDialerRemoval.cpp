#include "detection/uDialerRemoval.h"

#include "detection/uSygnatureManager.h"
#include "platform/uPathDelim.h"
#include "util/uCommandLine.h"
#include "util/uQmError.h"

#include <cstdio>

namespace {

// Enough distinct names for any number of same-named dialers a user will ever collect.
constexpr int kMaxNameAttempts = 10000;

std::string DateText(qm::TDateTime t, bool withTime) {
    const qm::TDateParts p = qm::DecodeDateTime(t);
    char buffer[40];
    if (withTime)
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                      p.Minute, p.Second);
    else
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
    return buffer;
}

bool EntryNamesFile(const TAutoStartEntry& entry, const std::string& path) {
    for (const std::string& command : entry.Commands)
        if (qm::CommandNamesFile(command, path))
            return true;
    return false;
}

} // namespace

TRemovalReport TDialerRemoval::NewReport() {
    return {kRemovalReportTitle, std::string(34, '='), " "};
}

std::string TDialerRemoval::Dir() const {
    return qm::IncludeTrailingPathDelimiter(FContext.QuarantineDir ? FContext.QuarantineDir()
                                                                   : std::string());
}

std::string TDialerRemoval::CandidateName(const std::string& name, int attempt) {
    if (attempt == 0)
        return name;
    const auto dot = name.find_last_of('.');
    std::string suffix = "-";
    suffix += std::to_string(attempt + 1);
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

bool TDialerRemoval::NameFree(const std::string& name) const {
    // The log and the records have fixed names of their own.
    if (name == kRemovalLogName || name.ends_with(kQuarantineRecordSuffix))
        return false;
    return !FContext.Quarantine.Exists(Dir() + name + std::string(kQuarantineRecordSuffix));
}

bool TDialerRemoval::RemoveDialer(const std::string& path, TRemovalReport* report) {
    const bool ok = QuarantineFile(path, report);
    if (ok) {
        RemoveRunValues(path, report);
        WriteRemovalLog(kRemovalSeparator, report);
    }
    return ok;
}

void TDialerRemoval::RemoveFoundDialers(const std::vector<std::string>& foundDialers, IRemovalView& view) {
    view.SetBusyCursor(true);
    struct TRestore {
        IRemovalView& View;
        ~TRestore() {
            View.ResetTray();
            View.SetBusyCursor(false);
        }
    };
    {
        TRestore restore{view};
        TRemovalReport report = NewReport();
        for (const std::string& path : foundDialers)
            RemoveDialer(path, &report);
        view.ShowRemovalReport(report);
    }
    view.ClearFoundDialers();
}

bool TDialerRemoval::QuarantineFile(const std::string& path, TRemovalReport* report) {
    FRecord.reset();
    if (!FContext.Quarantine.Exists(path))
        return true;
    TerminateFileProcess(path);
    const std::string dir = Dir();
    const std::string fingerprint = qm::FileFingerprint(FContext.FileSystem, path);
    const std::string base = qm::ExtractFileName(path);
    TMoveResult moved;
    std::string stored;
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        stored = CandidateName(base, attempt);
        if (!NameFree(stored))
            continue;
        moved = FContext.Quarantine.MoveIn(path, dir, stored);
        if (moved.Status != msNameTaken)
            break;
    }
    WriteRemovalLog(kRemovalDetected + path, report);
    if (moved.Status == msMoved && !FContext.Quarantine.Exists(path)) {
        FRecord = TQuarantineRecord{
            path, stored, moved.Facts, fingerprint, DateText(FContext.Clock.Now(), true), {}, false};
        WriteRecord();
        WriteRemovalLog(kRemovalMoved + dir, report);
        return true;
    }
    WriteRemovalLog(kRemovalMoveFailed, report);
    if (!moved.Error.empty())
        WriteRemovalLog(kRemovalMoveFailedReason + moved.Error, report);
    return false;
}

void TDialerRemoval::TerminateFileProcess(const std::string& path) {
    const auto processes = FContext.Processes.ListExecutables();
    if (!processes)
        return;
    // Every copy of the file that runs: one left over would go on dialing.
    for (const TProcessExecutable& p : *processes)
        if (p.Path == path)
            FContext.Processes.EndExecutable(p);
}

std::string TDialerRemoval::VanishedRecordName(const std::string& path) const {
    const std::string base = qm::ExtractFileName(path);
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const std::string name = CandidateName(base, attempt);
        if (NameFree(name) && !FContext.Quarantine.Exists(Dir() + name))
            return name;
    }
    throw EQmError(path + ": no free name in " + Dir());
}

void TDialerRemoval::RemoveRunValues(const std::string& path, TRemovalReport* report) {
    if (FRecord && FRecord->OriginalPath != path)
        FRecord.reset(); // another file's
    for (const TAutoStartEntry& entry : FContext.AutoStartEntries.List()) {
        // Entries this user may not change are left alone without a word.
        if (!EntryNamesFile(entry, path) || !FContext.AutoStartEntries.CanRemove(entry))
            continue;
        // A file that was gone before it could be moved still gets a record, of its entries
        // alone, so that they can be listed and put back.
        if (!FRecord)
            FRecord = TQuarantineRecord{
                path, VanishedRecordName(path), {}, {}, DateText(FContext.Clock.Now(), true), {}, true};
        const std::string backup = BackupRunValue(entry, FRecord->StoredName, report);
        if (!FContext.AutoStartEntries.Remove(entry))
            continue;
        TAutoStartEntry kept = entry;
        kept.Commands.clear();
        FRecord->Entries.push_back({std::move(kept), backup});
        WriteRecord();
        WriteRemovalLog(kRemovalValueDeleted + path + kRemovalValueDeletedEnd, report);
    }
    if (FRecord && FRecord->Vanished && FRecord->Entries.empty())
        FRecord.reset(); // nothing was removed: nothing to record
}

std::string TDialerRemoval::BackupRunValue(const TAutoStartEntry& entry, const std::string& stem,
                                           TRemovalReport* report) {
    const std::string dir = Dir();
    const std::string wanted = stem + "." + entry.Name;
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const std::string name = CandidateName(wanted, attempt);
        if (!NameFree(name))
            continue;
        const TMoveResult r = FContext.AutoStartEntries.Backup(entry, dir, name);
        if (r.Status == msMoved) {
            WriteRemovalLog(kRemovalBackupWritten + dir + name + kRemovalBackupWrittenEnd, report);
            return name;
        }
        if (r.Status == msFailed)
            throw EQmError(entry.Path() + ": " + r.Error);
    }
    throw EQmError(entry.Path() + ": no free name in " + dir);
}

void TDialerRemoval::WriteRemovalLog(const std::string& message, TRemovalReport* report) {
    if (report)
        report->push_back(message);
    const qm::TDateTime now = FContext.Clock.Now();
    const std::string date = FContext.ShortDate ? FContext.ShortDate(now) : DateText(now, false);
    AppendLineToFile(date + " " + message, Dir() + kRemovalLogName);
}

void TDialerRemoval::AppendLineToFile(const std::string& line, const std::string& file) {
    FContext.Quarantine.AppendLine(file, line);
}

void TDialerRemoval::WriteRecord() {
    if (FRecord)
        FContext.FileSystem.ReplaceFile(Dir() + FRecord->StoredName + std::string(kQuarantineRecordSuffix),
                                        qm::FormatQuarantineRecord(*FRecord));
}

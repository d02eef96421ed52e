#pragma once
// Removing a dialer: end the processes that run its file, move the file into the quarantine folder
// (never losing it or any file already there), back up and delete the autostart entries that name
// it, and log each step in log.txt and the removal report. Each quarantined file gets a record
// beside it (uQuarantineRecord.h) from which qmvardel-quarantine puts it all back.
#include "detection/uQuarantineRecord.h"
#include "platform/IAutoStartEntries.h"
#include "platform/IClock.h"
#include "platform/IFileSystem.h"
#include "platform/IProcessControl.h"
#include "platform/IQuarantineFiles.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The removal report: its header lines, then every logged message without the date.
using TRemovalReport = std::vector<std::string>;

inline constexpr const char* kRemovalReportTitle = "Raport usuwania dialerów";
inline constexpr const char* kRemovalDetected = "Wykryto dialer: ";
inline constexpr const char* kRemovalMoved = "Plik ten przeniesiono do folderu: ";
inline constexpr const char* kRemovalMoveFailed =
    "Próba usunięcia pliku nie powiodła się. Spróbuj usunąć plik samodzielnie.";
inline constexpr const char* kRemovalMoveFailedReason = "Przyczyna: ";
inline constexpr const char* kRemovalBackupWritten = "Został utworzony plik ";
inline constexpr const char* kRemovalBackupWrittenEnd = " dla odtworzenia wartości rejestru.";
inline constexpr const char* kRemovalValueDeleted = "Dialer ";
inline constexpr const char* kRemovalValueDeletedEnd = " został usunięty z rejestru.";
inline constexpr const char* kRemovalSeparator = "-------------------------------------------------";
inline constexpr const char* kRemovalLogName = "log.txt";

struct TDialerRemovalContext {
    IProcessControl& Processes;
    IQuarantineFiles& Quarantine;
    IAutoStartEntries& AutoStartEntries;
    IFileSystem& FileSystem; // the fingerprint of the file and the records
    const IClock& Clock;
    // The quarantine folder, ending with the path delimiter (the application context's).
    std::function<std::string()> QuarantineDir;
    // The date in the user's short date format; unset: YYYY-MM-DD.
    std::function<std::string(qm::TDateTime)> ShortDate = {};
};

// What the removal from the scan results needs of the window.
class IRemovalView {
public:
    virtual ~IRemovalView() = default;
    virtual void SetBusyCursor(bool busy) = 0; // the hourglass
    // TfrmRemoveDialers, modally.
    virtual void ShowRemovalReport(const TRemovalReport& report) = 0;
    virtual void ResetTray() = 0; // SetTrayState(trayReset)
    // The scan animation to idle, lstFoundDialers cleared, ScanResultNotebook hidden.
    virtual void ClearFoundDialers() = 0;
};

class TDialerRemoval {
public:
    explicit TDialerRemoval(TDialerRemovalContext context) : FContext(std::move(context)) {}

    // A report with its three header lines.
    static TRemovalReport NewReport();

    // True when the file is gone from its place (moved, or not there to begin with). Raises
    // EQmError when an autostart entry's backup cannot be written (the entry then stays).
    bool RemoveDialer(const std::string& path, TRemovalReport* report);

    // btnRemoveDialers: removes every found dialer in list order and shows the report. An error
    // ends the run (no report, the list kept) and goes on to the caller; the tray and the cursor
    // are restored on every path.
    void RemoveFoundDialers(const std::vector<std::string>& foundDialers, IRemovalView& view);

    // The steps, in the order RemoveDialer takes them.
    bool QuarantineFile(const std::string& path, TRemovalReport* report);
    void TerminateFileProcess(const std::string& path);
    void RemoveRunValues(const std::string& path, TRemovalReport* report);
    // Copies the entry into the quarantine folder under a name not yet taken; that name.
    std::string BackupRunValue(const TAutoStartEntry& entry, const std::string& stem, TRemovalReport* report);
    void WriteRemovalLog(const std::string& message, TRemovalReport* report);
    void AppendLineToFile(const std::string& line, const std::string& file);

    // The record of the file that the last QuarantineFile moved, if it moved one, or of the
    // entries RemoveRunValues removed for a file that had vanished.
    const std::optional<TQuarantineRecord>& LastRecord() const { return FRecord; }

    // The quarantine name for the n-th try (0: the name itself; then "d-2.exe", "d-3.exe", ...).
    static std::string CandidateName(const std::string& name, int attempt);

private:
    std::string Dir() const;
    bool NameFree(const std::string& name) const;
    // A name for the record of a file that vanished: taken by no record and no file.
    std::string VanishedRecordName(const std::string& path) const;
    void WriteRecord();

    TDialerRemovalContext FContext;
    std::optional<TQuarantineRecord> FRecord;
};

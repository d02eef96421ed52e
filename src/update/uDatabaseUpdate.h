#pragma once
// The database update run of the main window: the update button and its abort, the run's log in
// the update tab, the automatic update when a connection comes up, the database label, and the
// installation of a received Sygn.ini (checked, signed when the program has a key, replaced
// atomically).
#include "core/uAppIni.h"
#include "core/uTrayState.h"
#include "detection/uSygnatureManager.h"
#include "platform/IClock.h"
#include "platform/IDatabaseSignature.h"
#include "platform/IEventPump.h"
#include "platform/IFileSystem.h"
#include "update/uQmHttpUpdate.h"

#include <functional>
#include <string>

// The update tab as the run sees it.
class IUpdateView {
public:
    virtual ~IUpdateView() = default;
    virtual void ClearLog() = 0;                                 // memUpdate
    virtual void AddLogLine(const std::string& line) = 0;        // memUpdate
    virtual void SetUpdateCaption(const std::string& text) = 0;  // btnUpdate
    virtual void SetDatabaseInfo(const std::string& markup) = 0; // labDataVersionInfo
    virtual bool AutoUpdateChecked() const = 0;                  // chbAutoUpdate of the options tab
};

// The ports an update needs, as the window receives them; a missing one leaves the update off.
struct TUpdateServices {
    IHttpTransport* Http = nullptr;
    IUpdateFiles* Files = nullptr;
    const IDatabaseSignature* Signature = nullptr;
    const IClock* Clock = nullptr;
    const ISystemInfo* SystemInfo = nullptr;
    const IProgramImage* Image = nullptr;
    bool Complete() const { return Http && Files && Signature && Clock && Image; }
};

struct TDatabaseUpdateContext {
    TQmHttpUpdate& HttpUpdate;
    TSygnatureManager& Database;
    IFileSystem& FileSystem;
    IUpdateFiles& Files;
    const IClock& Clock;
    TAppIni& Ini;
    IEventPump& Pump;
    const IDatabaseSignature& Signature;
    std::string AppDir;  // holds the public key file; ends with the path delimiter
    std::string DataDir; // the receiving folder is made here; ends with the path delimiter
    std::function<void(TTrayState)> SetTrayState;
    std::function<void()> CheckRunningDialers;
    std::function<bool()> Loading; // settings are being copied into the controls
    // The user's short date format; unset: "dd.mm.yyyy".
    std::function<std::string(qm::TDateTime)> FormatShortDate;
};

class TDatabaseUpdate {
public:
    static constexpr const char* kUpdateUrlKey = "update_url";
    // A host under .invalid never resolves: an unconfigured program fails with a clear line
    // instead of asking somebody else's server.
    static constexpr const char* kDefaultUpdateUrl =
        "http://update.qmvardel.invalid/cgi-bin/vardel-update.pl";
    static constexpr const char* kPublicKeyName = "Sygn.pub";
    static constexpr const char* kSignatureName = "Sygn.ini.sig";
    static constexpr int kReadTimeoutMs = 180000;
    static constexpr int kAutoUpdateDays = 7;

    TDatabaseUpdate(const TDatabaseUpdateContext& context, IUpdateView& view);

    void RunDatabaseUpdate();
    void CheckAutoUpdate();
    void ShowDatabaseInfo();
    void btnUpdateClick();
    void HttpUpdateAddToLog(TQmHttpUpdate& sender, const std::string& msg);
    void chbAutoUpdateClick();

    bool Updating() const { return FUpdating; }
    // Whether the last run ended with the database current: the client succeeded and a received
    // database, if any, was installed.
    bool LastRunSucceeded() const { return FLastRunSucceeded; }
    std::string ReceiveDir() const;

private:
    bool InstallReceived(const std::string& received);
    void Refuse(const std::string& why);
    void ReloadDatabase();
    // Where a received database is installed: the data folder's Sygn.ini.
    std::string InstalledPath() const;
    void EndSteps();

    TDatabaseUpdateContext FContext;
    IUpdateView& FView;
    bool FUpdating = false; // the button aborts: from the start of a run to its end steps
    bool FRunning = false;  // the whole run, its end steps included
    bool FLastRunSucceeded = false;
};

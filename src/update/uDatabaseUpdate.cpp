#include "update/uDatabaseUpdate.h"

#include "platform/uPathDelim.h"
#include "update/uBackgroundWork.h"
#include "update/uDatabaseCheck.h"
#include "util/uFormat.h"
#include "util/uQmError.h"

namespace {

constexpr const char* kMain = "main";
constexpr const char* kDatabaseName = "Sygn.ini";

std::string DefaultShortDate(qm::TDateTime value) {
    const qm::TDateParts p = qm::DecodeDateTime(value);
    std::string out;
    for (const int n : {p.Day, p.Month}) {
        if (n < 10)
            out += '0';
        out += std::to_string(n);
        out += '.';
    }
    out += std::to_string(p.Year);
    return out;
}

} // namespace

TDatabaseUpdate::TDatabaseUpdate(const TDatabaseUpdateContext& context, IUpdateView& view)
    : FContext(context), FView(view) {
    TQmHttpUpdate& http = FContext.HttpUpdate;
    http.AppName = "QmVardel";
    http.AppVersionFromResource = false;
    http.SetAppVersion("7.0.4.453");
    http.AppVersionFromResource = true;
    http.SetAntiFreeze(true);
    http.CmdDelimiter = ' ';
    http.HandleStdCmd = true;
    http.URLToUpdate = kDefaultUpdateUrl;
    http.SetFilesToSendDir(".");
    http.SetFilesToRecvDir(std::string(".") + qm::PathDelim + "Updates");
    http.MaxRetries = 3;
    http.LogOptions = kAllLogOptions;
    http.ParamsOptions = OptionBit(updSendAppName) | OptionBit(updSendAppVersion);
    http.IsLastVersion = false;
    http.SetUnzipDir(".");
    http.UnzipFiles = true;
    http.UseSSL = false;
    http.OnAddToLog = [this](TQmHttpUpdate& sender, const std::string& msg) {
        HttpUpdateAddToLog(sender, msg);
    };
    if (!FContext.FormatShortDate)
        FContext.FormatShortDate = DefaultShortDate;
}

std::string TDatabaseUpdate::ReceiveDir() const {
    return FContext.DataDir + "Updates" + qm::PathDelim;
}

void TDatabaseUpdate::RunDatabaseUpdate() {
    // The button turns into the abort button during a run, so only an automatic trigger, or a press
    // while the end steps reload the database, can come here while a run is in progress; it is
    // ignored.
    if (FRunning)
        return;
    struct TRunning {
        bool& Flag;
        ~TRunning() { Flag = false; }
    } running{FRunning = true};
    TQmHttpUpdate& http = FContext.HttpUpdate;
    FLastRunSucceeded = false;
    FView.ClearLog();
    if (FContext.SetTrayState)
        FContext.SetTrayState(trayUpdating);
    FUpdating = true;
    FView.SetUpdateCaption(" Przerwij");
    try {
        http.SetFilesToRecvDir(FContext.DataDir + "Updates");
        FContext.FileSystem.CreateDirectories(http.FilesToRecvDir());
        // A file left by an earlier run is never installed.
        const std::string received = http.FilesToRecvDir() + kDatabaseName;
        FContext.Files.DeleteFile(received);
        FContext.Files.DeleteFile(http.FilesToRecvDir() + kSignatureName);
        http.Http().SetReadTimeout(kReadTimeoutMs);
        http.URLToUpdate = FContext.Ini.ReadString(kUpdateUrlKey, kDefaultUpdateUrl, kMain);
        http.SetParams({"SygnatureVer=" + FContext.Database.Version(), ""});
        bool ok = http.Update();
        if (ok && FContext.FileSystem.FileExists(received))
            ok = InstallReceived(received);
        FLastRunSucceeded = ok;
    } catch (...) {
        EndSteps();
        throw;
    }
    EndSteps();
}

bool TDatabaseUpdate::InstallReceived(const std::string& received) {
    // A million-line database takes a noticeable moment to read, check and write; all of it runs on
    // another thread while the window stays live. The thread touches files and the text only.
    // Into the data folder: an installed program's own folder is not the user's to write, and the
    // updated file there takes precedence over the shipped one from then on.
    const std::string installed = InstalledPath();
    const std::string installedVersion = FContext.Database.Version();
    const std::string keyPath = FContext.AppDir + kPublicKeyName;
    const std::string signaturePath = FContext.HttpUpdate.FilesToRecvDir() + kSignatureName;
    IFileSystem& files = FContext.FileSystem;
    const IDatabaseSignature& verifier = FContext.Signature;
    std::string refusal;
    bool replaced = false;
    RunWhilePumping(FContext.Pump, [&] {
        const std::optional<std::string> bytes = files.ReadAll(received);
        if (!bytes) {
            refusal = "nie można odczytać pliku";
            return;
        }
        const TDatabaseCheck check = CheckDatabaseText(*bytes);
        if (!check.Ok) {
            refusal = check.Problem;
            return;
        }
        const std::optional<std::string> publicKey = files.ReadAll(keyPath);
        std::optional<std::string> signature;
        if (publicKey) {
            signature = files.ReadAll(signaturePath);
            std::string why;
            if (!signature) {
                refusal = "brak podpisu bazy danych";
                return;
            }
            if (!verifier.Verify(*bytes, *signature, *publicKey, why)) {
                refusal = "błędny podpis: " + why;
                return;
            }
            // A signed older database could be replayed to bring back what a newer one removed.
            if (qm::CompareVersions(check.Version, installedVersion) < 0) {
                refusal = qm::Format("wersja %s jest starsza niż zainstalowana %s", check.Version,
                                     installedVersion);
                return;
            }
        }
        replaced = files.ReplaceFile(installed, *bytes);
        // Kept beside the database so that its signature can be checked again later.
        if (replaced && signature)
            files.ReplaceFile(installed + ".sig", *signature);
    });
    if (!refusal.empty()) {
        Refuse(refusal);
        return false;
    }
    if (!replaced) {
        FView.AddLogLine(qm::Format("Nie można zainstalować bazy danych %s", installed));
        return false;
    }
    return true;
}

void TDatabaseUpdate::Refuse(const std::string& why) {
    FView.AddLogLine(qm::Format("Otrzymana baza danych została odrzucona: %s", why));
}

void TDatabaseUpdate::EndSteps() {
    FView.SetUpdateCaption(" Aktualizuj");
    FUpdating = false;
    if (FContext.SetTrayState)
        FContext.SetTrayState(trayReset);
    ReloadDatabase();
    ShowDatabaseInfo();
    if (FContext.CheckRunningDialers)
        FContext.CheckRunningDialers();
}

std::string TDatabaseUpdate::InstalledPath() const {
    return FContext.DataDir + "Sygn.ini";
}

void TDatabaseUpdate::ReloadDatabase() {
    TSygnatureManager& db = FContext.Database;
    // An updated database in the data folder replaces the one loaded so far.
    const std::string path =
        FContext.FileSystem.FileExists(InstalledPath()) ? InstalledPath() : db.FileName();
    // Without a file a load changes nothing; with one, the lines are read on another thread while
    // the window (and the hook messages asking the database) go on.
    if (!FContext.FileSystem.FileExists(path))
        return;
    std::unique_ptr<TSygnatureManager> loaded;
    RunWhilePumping(FContext.Pump, [&] {
        loaded = std::make_unique<TSygnatureManager>(path, FContext.FileSystem, std::string());
    });
    if (!loaded->LoadError().empty()) {
        // An unreadable file keeps the previous contents, as a load in place does.
        FView.AddLogLine(loaded->LoadError());
        return;
    }
    db.TakeLoaded(*loaded);
}

void TDatabaseUpdate::CheckAutoUpdate() {
    if (FRunning || !FView.AutoUpdateChecked())
        return;
    const std::int32_t age =
        qm::DayNumber(FContext.Clock.Now()) - qm::DayNumber(FContext.Database.DatabaseDate());
    if (age >= kAutoUpdateDays)
        RunDatabaseUpdate();
}

void TDatabaseUpdate::ShowDatabaseInfo() {
    FView.SetDatabaseInfo(
        qm::Format("Data ostatniej aktualizacji: <b>%s</b>\r\nWersja bazy danych: <b>%s</b>",
                   FContext.FormatShortDate(FContext.Database.DatabaseDate()), FContext.Database.Version()));
}

void TDatabaseUpdate::btnUpdateClick() {
    if (FUpdating)
        FContext.HttpUpdate.Abort();
    else
        RunDatabaseUpdate();
}

void TDatabaseUpdate::HttpUpdateAddToLog(TQmHttpUpdate& /*sender*/, const std::string& msg) {
    FView.AddLogLine(msg);
}

void TDatabaseUpdate::chbAutoUpdateClick() {
    if (FContext.Loading && FContext.Loading())
        return;
    FContext.Ini.WriteBool("autoupdate", FView.AutoUpdateChecked(), kMain);
}

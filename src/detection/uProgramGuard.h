#pragma once
// The launched-program guard: answers the hook's program-start notices (0 let start, 1 stop) by
// finding the started file and testing it against the signature database, asks the user about a
// dialer in the dialer prompt, and looks for dialers among the running processes.
#include "core/uHookDispatch.h"
#include "core/uHookRecords.h"
#include "detection/uDialerRemoval.h"
#include "detection/uSygnatureManager.h"
#include "platform/IDisplayName.h"
#include "platform/IFileSystem.h"
#include "platform/IProcessControl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The dialer prompt's answers (its modal results); any other way of closing it means remove,
// except when the program's end closed it: then nothing is removed.
enum TDialerPromptAnswer : int { dpAllow = 1, dpRemove = 2 };

inline constexpr const char* kDialerStartMessageFormat =
    "<b>QmVardel<plain> wykrył próbę uruchomienia dialera o nazwie: <b>%s</b>.\nMożesz zezwolić na "
    "uruchomienie dialera lub unieszkodliwić go.";
inline constexpr const char* kDialerRunningMessageFormat =
    "<b>QmVardel<plain> wykrył działającego dialera o nazwie: <b>%s</b>.\nMożesz unieszkodliwić go lub "
    "pozostawić uruchomionego.";
inline constexpr const char* kDialerRemovalFailed =
    "Próba usunięcia pliku nie powiodła się. Spróbuj usunąć plik samodzielnie. Plik: ";
inline constexpr const char* kDialerHelpTopic = "mechanizm_sprawdzania_uruchami";

// What the guard needs of the main window.
class IProgramGuardView {
public:
    virtual ~IProgramGuardView() = default;
    // The options as their check boxes show them: chbExeMonitoring and chbChildMode.
    virtual bool ExeMonitoring() const = 0;
    virtual bool ChildMode() const = 0;
    virtual void SetAlarmTray() = 0; // SetTrayState(trayAlarm)
    virtual void ResetTray() = 0;    // SetTrayState(trayReset)
    // Shows TfrmDialerNotifyDlg modally; returns its modal result. May raise.
    virtual int ShowDialerPrompt(const std::string& dialerName, bool isRunning, bool childMode) = 0;
    // The message boxes after a removal, with only an OK button.
    virtual void ShowInformation(const std::string& text) = 0;
    virtual void ShowErrorBox(const std::string& text) = 0;
    // The application's default error display, for an error that escapes a removal.
    virtual void ShowError(const std::string& text) = 0;
    // True once the program's end has begun; a prompt it closed was answered by nobody.
    virtual bool Ending() const { return false; }
};

struct TProgramGuardContext {
    const TSygnatureManager& Sygnatures;
    TDialerRemoval& Removal;
    IProcessControl& Processes;
    const IDisplayName& DisplayNames;
    const IFileSystem& FileSystem;
    // The quarantine folder, as the information box names it.
    std::function<std::string()> QuarantineDir;
    // The value of PATH and our own current folder.
    std::function<std::string()> SearchPath;
    std::function<std::string()> CurrentDirectory;
    // Tells the hook service to forget the "not a dialer" answers it remembers for us. A 0 given
    // because the user let a dialer start says nothing about the file: called before that answer
    // goes out, so the service does not keep it and the next start is asked about again.
    std::function<void()> ForgetStartAnswers = {};
};

class TProgramGuard : public IProgramStartHandler {
public:
    TProgramGuard(TProgramGuardContext context, IProgramGuardView& view)
        : FContext(std::move(context)), FView(view) {}

    // The Result of a program-start notice: 0 lets the program start, 1 stops it.
    std::int32_t HandleProgramStart(const qm::TProgramStart& start) override;
    // The started file's full path by the three rules, or the empty text.
    std::string ResolveStartedProgramPath(const std::string& applicationName,
                                          const std::string& currentDirectory,
                                          const std::string& commandLine) const;
    // The folders of PATH in order, empty pieces dropped, each made absolute without a trailing "/".
    std::vector<std::string> GetSearchPathList() const;
    // The name the desktop shows for the file, else its path.
    std::string GetDisplayName(const std::string& path) const;
    // True when the user lets the dialer start (or run on).
    bool AskDialer(const std::string& displayName, bool isRunning);
    void CheckRunningDialers();

private:
    // RemoveDialer and the box that tells how it went.
    void RemoveAndTell(const std::string& path);
    std::string Absolute(const std::string& path) const;

    TProgramGuardContext FContext;
    IProgramGuardView& FView;
};

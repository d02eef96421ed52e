#pragma once
// The dial guard as the composition holds it: the hook socket served from the event loop, the
// message dispatch (dial requests to the guard, program starts to the handler given), the dial
// decision with its prompt, and the hook files check and start. Its questions are answered through
// the callbacks and the alarm host; every system part comes in its context.
#include "core/uHookDispatch.h"
#include "core/uHookStarter.h"
#include "guard/uDialGuard.h"
#include "platform/IProcessControl.h"
#include "platform/IRemoteAccess.h"
#include "ui/uAlarmHost.h"
#include "ui/uDialGuardView.h"
#include "ui/uHookSocketServer.h"

#include <functional>
#include <memory>
#include <string>

class QWidget;

// The system parts the dial guard works over, made once by the program's entry point.
struct TDialGuardServices {
    IFileSystem& FileSystem;
    IRemoteAccess& RemoteAccess;
    IHookLibrary& HookLibrary;
    IHookEndpoint& HookEndpoint;
    std::string HookSocketPath;
};

struct TDialGuardShellContext {
    TDialGuardServices Services;
    IAlarmHost& Host;
    TAllowedList& AllowedList;
    // The answer to program-start notices (the launched-program guard's handler).
    IProgramStartHandler& ProgramStarts;
    std::string AppDir;
    std::function<bool()> ChildMode = {};                        // chbChildMode is ticked
    std::function<void(const std::string&)> ShowError = {};      // error box with the program's title
    std::function<void(const std::string&)> SetWindowTitle = {}; // the main window's title
};

class TDialGuardShell : private IHookStartView {
public:
    explicit TDialGuardShell(TDialGuardShellContext context);
    ~TDialGuardShell() override;

    // Starts serving the hook socket; false (and the reason on stderr) when it cannot.
    bool Listen();
    // Stops serving: the socket goes and open connections are closed unanswered.
    void Stop() { FServer->Close(); }
    // The hook files check, then (when it passed) the start; in the creation sequence.
    bool CheckHookFiles() { return FStarter->CheckHookFiles(); }
    void StartHooks() { FStarter->StartHooks(); }

    // The "Połącz" button of the status tab: the dial dialog for the entry picked, or the warning
    // when none is (showWarning shows the warning message box). The dialog wears the given skins.
    void ConnectEntry(int selectedIndex, const std::string& entryName, QWidget* owner,
                      const std::function<void(const std::string&)>& showWarning,
                      TbsSkinData* controls = nullptr, TbsSkinData* frame = nullptr);

    TDialGuard& Guard() { return *FGuard; }
    THookDispatcher& Dispatcher() { return *FDispatcher; }
    IRemoteAccess& RemoteAccess() { return FContext.Services.RemoteAccess; }
    THookSocketServer& Server() { return *FServer; }

private:
    void ShowHookError(const std::string& text) override;
    void SetWindowTitle(const std::string& title) override;

    TDialGuardShellContext FContext;
    std::unique_ptr<TDialGuardView> FView;
    std::unique_ptr<TDialGuard> FGuard;
    std::unique_ptr<THookDispatcher> FDispatcher;
    std::unique_ptr<THookSocketServer> FServer;
    std::unique_ptr<THookStarter> FStarter;
};

inline constexpr const char* kNoEntrySelectedText = "Żadne połączenie nie zostało wybrane";

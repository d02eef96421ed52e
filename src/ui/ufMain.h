#pragma once
// TfrmMain: the program's only main window and the owner of every long-lived object. It is built
// in two steps: the constructor makes the controls, FormCreate brings the services up in their
// fixed order. The window implements the views of the Qt-free parts (tray, allowed numbers, alarm
// host). The services of later subsystems plug in at the protected hooks, which do nothing yet.
#include "core/libQmVardel.h"
#include "core/uAutoStart.h"
#include "core/uTrayState.h"
#include "guard/uAllowedNumbers.h"
#include "guard/uTapiMonitor.h"
#include "platform/IAutoStart.h"
#include "platform/ISoundPlayer.h"
#include "platform/ITimer.h"
#include "ui/uAlarmHost.h"
#include "ui/uDialGuardShell.h"
#include "ui/uMessageBoxPort.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TStatusTab;
class TScanTab;
class TStatisticsTab;
class TUpdateTab;
class TOptionsTab;
class TTrayIcon;
class THelpWindow;
class TbsSkinData;
class QSocketNotifier;

// What the window is built with.
struct TfrmMainContext {
    TVardelApp& App;
    ITimerFactory& Timers;
    IAutoStart& AutoStart;
    ISoundPlayer& Sound;
    // The full path of the running executable (the autostart command names it).
    std::string ExecutablePath;
    // The program's arguments after its own name.
    std::vector<std::string> Arguments;
    // Null: the window makes its own skinned message box.
    IMessageBoxPort* MessageBox = nullptr;
    // Unset: asks the desktop whether it has a notification area.
    std::optional<bool> TrayAvailable;
    // Stops the message loop; unset = QCoreApplication::exit(0).
    std::function<void()> OnTerminate;
    // Called at the end of the window's clean-up (FormDestroy).
    std::function<void()> OnFormDestroyed;
    // The process-wide line monitor (it outlives the message loop, not the window); null = none.
    TTapiMonitor* TapiMonitor = nullptr;
    // Stand-ins for the dial guard's system parts (tests); unset: the real system.
    TDialGuardOverrides DialGuard = {};
};

// Skin folders under Skins/, by the index of cmbSkins.
inline constexpr const char* kSkinFolders[] = {"corona!", "winxpblue", "ecliptic", "newtek"};
// Help topics by the index of the shown tab.
inline constexpr const char* kTabHelpTopics[] = {"zakładka_status", "zakładka_skanowanie",
                                                 "zakładka_statystyka", "zakladka_aktualizacja",
                                                 "zakladka_opcje"};

class TfrmMain : public QWidget, public ITrayView, public IAllowedNumbersView, public IAlarmHost {
public:
    static constexpr int kClientWidth = 446;
    static constexpr int kClientHeight = 306;

    explicit TfrmMain(const TfrmMainContext& context);
    ~TfrmMain() override;

    // The creation sequence; errors are shown and end the sequence at their step.
    void FormCreate();

    // Controls.
    QTabWidget* PageControl;
    TStatusTab* StatusTab;
    TScanTab* ScanTab;
    TStatisticsTab* StatisticsTab;
    TUpdateTab* UpdateTab;
    TOptionsTab* OptionsTab;
    QPushButton* btnHelp;
    QPushButton* btnMinimize;
    TTrayIcon* TrayIcon() const { return FTrayIcon; }
    THelpWindow* HelpWindow() const;

    // Settings and skins.
    void LoadSettings();
    void ApplySkin(int index);
    TbsSkinData* bsSkinData;
    TbsSkinData* DialogSkinData;

    // Tray.
    void SetTrayState(int state) override;
    TTrayState TrayState() const { return FTray->State(); }
    TTrayStateMachine& Tray() { return *FTray; }
    void ShowMainWindow();
    bool IsTrayAvailable() const { return FTrayAvailable; }

    // Help.
    void ShowHelpTopic(const std::string& topic) override;

    // Connection status. The line monitor's report (LineCallState) calls these: SetConnected with
    // the last dial request's number when the modem connects, SetNotConnected when the call ends.
    void SetConnected(const std::string& number);
    void SetNotConnected();
    void SetConnectedNumber(const std::string& number);
    // The line monitor's handler (OnCallState), assigned just before the monitor starts.
    void LineCallState(TTapiMonitor& sender, TCallStateEvent state);
    ITimer& tmrConnection() { return *FConnectionTimer; }
    ITimer& tmrScanStart() { return *FScanStartTimer; }

    // Life line.
    // The session's end-of-work question: always agrees, and cleans up at once.
    bool QueryEndSession();
    void mnuCloseClick();
    bool IsClosing() const { return FClosing; }
    const TAllowedList* AllowedList() const { return FAllowedList.get(); }
    IMessageBoxPort& MessageBox() { return *FMessageBox; }
    TDialGuardShell* DialGuard() const { return FDialGuard.get(); }

    // IAllowedNumbersView
    bool IsLoading() const override { return FLoading; }
    void ShowAllowedNumbers(const std::vector<std::string>& items) override;
    void ResetLastRequestTag() override { FLastRequestTag = 0; }

    // IAlarmHost
    TbsSkinData* ControlSkin() const override { return bsSkinData; }
    TbsSkinData* DialogSkin() const override { return DialogSkinData; }

    // The hook socket's messages: 0 is a dial request, 1 a program-start notice; the answer goes
    // back to the hook (0 lets it go on).
    virtual int HandleCopyData(std::uint32_t dwData, std::span<const std::uint8_t> record);

protected:
    // ITrayView
    void ShowTrayImage(TTrayImageList list, int index) override;
    void SetTrayHint(const std::string& hint) override;
    void StartAlarmSound() override;
    void StopSound() override;
    bool IsConnectionUp() const override { return FConnectionTimer->IsActive(); }
    std::string ConnectedNumber() const override { return FConnectedNumber; }

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

    // Hooks of the later subsystems, in the order the creation sequence calls them.
    virtual void SetScanAnimation(int page);
    virtual void SetStatisticsHeaders() {}
    virtual void StartLineMonitor();
    virtual void FillEntries();
    virtual void ShowDatabaseInfo() {}
    // The hook library's file check; false (after its message) skips the rest of the sequence.
    virtual bool CheckHookFiles();
    virtual void StartHooks();
    virtual void CheckRunningDialers() {}
    virtual void PickAllowedNumbers() {}
    virtual void CheckEntries() {}
    virtual void RefreshStatistics() {}
    virtual void UpdateStatistics(const std::string& /*number*/, bool /*newConnection*/) {}
    virtual void CheckAutoUpdate() {}
    virtual void HangUpAll();
    virtual void tmrScanStartTimer() {}
    // Buttons whose behaviour comes with their subsystems.
    virtual void btnConnectClick();
    virtual void btnStartSkanClick() {}
    virtual void btnAbortScaningClick() {}
    virtual void btnRemoveDialersClick() {}
    virtual void btnRefreshStatisticsClick() { RefreshStatistics(); }
    virtual void btnUpdateClick() {}

    void FormDestroy();
    bool FormCloseQuery();
    void ApplyCommandLine();
    void tmrConnectionTimer();
    void ShowError(const std::string& text);
    // Runs a handler; an error that leaves it is shown and the program goes on.
    void Guarded(const std::function<void()>& handler);

    TVardelApp& FApp;
    TAppIni& Ini() { return *FApp.Ini; }

    // Fields of the window, as the creation sequence sets them.
    bool FClosing = false;
    bool FLoading = false;
    bool FAbortScan = false;
    bool FUpdating = false;
    int FConnectionSeconds = 0;
    std::string FConnectedNumber;
    std::string FLastNumber;
    std::uint32_t FLastRequestTag = 0;
    bool FLastAllowed = false;
    std::unique_ptr<TAllowedList> FAllowedList;
    // The dial guard (ufMainDialGuard.cpp): the hook socket, the dial decision, remote access.
    std::unique_ptr<TDialGuardShell> FDialGuard;
    void CreateDialGuard();

private:
    void CreateControls();
    void ConnectHandlers();
    void BindOption(QCheckBox* box, const char* key);
    void cmbSkinsClick();
    void cmbScanFrequencyClick();
    void chbAutoStartClick();
    void btnAddConnectionClick();
    void btnDeleteConnectionClick();
    void btnHelpClick();
    void btnMinimizeClick();
    void HideToTray();
    void Terminate();

    TfrmMainContext FContext;
    std::unique_ptr<IMessageBoxPort> FOwnMessageBox;
    IMessageBoxPort* FMessageBox = nullptr;
    TAutoStartSetting FAutoStart;
    std::unique_ptr<ITimer> FConnectionTimer;
    std::unique_ptr<ITimer> FScanStartTimer;
    std::unique_ptr<TTrayStateMachine> FTray;
    TTrayIcon* FTrayIcon = nullptr;
    QPointer<THelpWindow> FHelp;
    bool FTrayAvailable = false;
    bool FFormDestroyed = false;
    QSocketNotifier* FLineNotifier = nullptr;
};

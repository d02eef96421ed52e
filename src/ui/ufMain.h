#pragma once
// TfrmMain: the program's only main window. It holds the window, the tabs, the tray, the skins, the
// help, the options and the end of work; the subsystems and their wiring live in TMainComposition,
// which the window makes at the start of its creation sequence (FormCreate) and whose views it and
// its tabs are. The constructor makes the controls, FormCreate brings the services up in their
// fixed order.
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
#include "ui/uMainComposition.h"
#include "ui/uMessageBoxPort.h"
#include "ui/uProgramGuardView.h"

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

// What the window is built with. Built with designated initialisers: a new service is one more
// member with a default, not a change to every caller.
struct TfrmMainContext {
    TVardelApp& App;
    ITimerFactory& Timers;
    IAutoStart& AutoStart;
    ISoundPlayer& Sound;
    // The dial guard's system parts.
    TDialGuardServices DialGuard;
    // The full path of the running executable (the autostart command names it).
    std::string ExecutablePath;
    // The program's arguments after its own name.
    std::vector<std::string> Arguments = {};
    // Null: the window makes its own skinned message box.
    IMessageBoxPort* MessageBox = nullptr;
    // Unset: asks the desktop whether it has a notification area.
    std::optional<bool> TrayAvailable = std::nullopt;
    // Stops the message loop; unset = QCoreApplication::exit(0).
    std::function<void()> OnTerminate = {};
    // Called at the end of the window's clean-up (FormDestroy).
    std::function<void()> OnFormDestroyed = {};
    // The process-wide line monitor (it outlives the message loop, not the window); null = none.
    TTapiMonitor* TapiMonitor = nullptr;
    // The disk scan's system parts; null: no scan.
    const TScanServices* Scan = nullptr;
    // The dialer removal's and the launched-program guard's system parts; unset = no guard.
    TDetectionServices Detection = {};
    // The database update's ports; incomplete = no update.
    TUpdateServices Update = {};
    // The wall clock of the statistics' periods; null = connections are not counted.
    const IClock* Clock = nullptr;
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
    // The subsystems; made by FormCreate.
    TMainComposition& Subsystems() { return *FSubsystems; }

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

    // The connection status's handlers, as the line monitor's report (LineCallState) calls them.
    void SetConnected(const std::string& number) { FSubsystems->Connection().SetConnected(number); }
    void SetNotConnected() { FSubsystems->Connection().SetNotConnected(); }
    void LineCallState(TTapiMonitor&, TCallStateEvent state) {
        FSubsystems->Connection().LineCallState(state);
    }

    // Life line.
    // The session's end-of-work question: always agrees, and cleans up at once.
    bool QueryEndSession();
    void mnuCloseClick();
    bool IsClosing() const { return FClosing; }
    const TAllowedList* AllowedList() const { return FSubsystems ? FSubsystems->AllowedList() : nullptr; }
    IMessageBoxPort& MessageBox() { return *FMessageBox; }

    // IAllowedNumbersView
    bool IsLoading() const override { return FLoading; }
    void ShowAllowedNumbers(const std::vector<std::string>& items) override;

    // IAlarmHost
    TbsSkinData* ControlSkin() const override { return bsSkinData; }
    TbsSkinData* DialogSkin() const override { return DialogSkinData; }

    // The hook socket's messages: 0 is a dial request, 1 a program-start notice; the answer goes
    // back to the hook (0 lets it go on).
    int HandleCopyData(std::uint32_t dwData, std::span<const std::uint8_t> record) {
        return FSubsystems ? FSubsystems->Dispatcher().Dispatch(dwData, record) : 0;
    }

    void ShowError(const std::string& text);
    // Runs a handler; an error that leaves it is shown and the program goes on.
    void Guarded(const std::function<void()>& handler);

protected:
    // ITrayView
    void ShowTrayImage(TTrayImageList list, int index) override;
    void SetTrayHint(const std::string& hint) override;
    void StartAlarmSound() override;
    void StopSound() override;
    bool IsConnectionUp() const override;
    std::string ConnectedNumber() const override;

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateControls();
    void ConnectHandlers();
    void BindOption(QCheckBox* box, const char* key, bool defaultValue);
    // Runs a settings write; when it is refused, showStored sets the control from the file (with
    // the handlers quiet) and the error is shown.
    void WriteOption(const std::function<void()>& write, const std::function<void()>& showStored);
    void SetScanAnimation(int page);
    void FillEntries();
    void HangUpAll();
    void FormDestroy();
    bool FormCloseQuery();
    void ApplyCommandLine();
    void cmbSkinsClick();
    void cmbScanFrequencyClick();
    void chbAutoStartClick();
    void btnConnectClick();
    void btnStartSkanClick() {
        if (FSubsystems)
            FSubsystems->StartScan();
    }
    void btnAbortScaningClick() {
        if (FSubsystems)
            FSubsystems->AbortScan();
    }
    void btnRemoveDialersClick() {
        if (FSubsystems)
            FSubsystems->RemoveDialers();
    }
    void btnRefreshStatisticsClick() {
        if (FSubsystems)
            FSubsystems->RefreshStatistics();
    }
    void btnUpdateClick() {
        if (FSubsystems)
            FSubsystems->Update();
    }
    void btnAddConnectionClick();
    void btnDeleteConnectionClick();
    void btnHelpClick();
    void btnMinimizeClick();
    void HideToTray();
    void Terminate();
    TAppIni& Ini() { return *FApp.Ini; }

    TVardelApp& FApp;
    TfrmMainContext FContext;
    bool FClosing = false;
    bool FLoading = false;
    std::unique_ptr<IMessageBoxPort> FOwnMessageBox;
    IMessageBoxPort* FMessageBox = nullptr;
    TAutoStartSetting FAutoStart;
    std::unique_ptr<TTrayStateMachine> FTray;
    TTrayIcon* FTrayIcon = nullptr;
    QPointer<THelpWindow> FHelp;
    bool FTrayAvailable = false;
    bool FFormDestroyed = false;
    std::unique_ptr<TMainComposition> FSubsystems;
};

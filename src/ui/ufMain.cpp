#include "ui/ufMain.h"

#include "components/bsSkinData.h"
#include "core/uCreationSequence.h"
#include "platform/uPathDelim.h"
#include "ui/uHelpWindow.h"
#include "ui/uImages.h"
#include "ui/uSkinLoader.h"
#include "ui/uTrayIcon.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufQueryDlg.h"
#include "ui/ufScanTab.h"
#include "ui/ufStatisticsTab.h"
#include "ui/ufStatusTab.h"
#include "ui/ufUpdateTab.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uQmError.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalBlocker>
#include <QSystemTrayIcon>

#include <cstdio>

namespace {

constexpr const char* kMain = "main";

// Sets a flag for a scope and puts the remembered value back, also when the scope fails.
class TFlagScope {
public:
    TFlagScope(bool& flag, bool value) : FFlag(flag), FOld(flag) { FFlag = value; }
    ~TFlagScope() { FFlag = FOld; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
    bool FOld;
};

} // namespace

TfrmMain::TfrmMain(const TfrmMainContext& context)
    : QWidget(nullptr,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint),
      FApp(context.App), FContext(context), FAutoStart(context.AutoStart, context.ExecutablePath) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Qm Vardel "));
    setWindowIcon(ProgramIcon(QStringLiteral("trayicon_2"), 32));
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(15);
    setFont(arial);
    setFixedSize(kClientWidth, kClientHeight);
    bsSkinData = new TbsSkinData(this);
    bsSkinData->setObjectName(QStringLiteral("bsSkinData"));
    DialogSkinData = new TbsSkinData(this);
    DialogSkinData->setObjectName(QStringLiteral("DialogSkinData"));
    CreateControls();

    FTrayIcon = new TTrayIcon(context.Timers, this);
    FTray = std::make_unique<TTrayStateMachine>(*this, context.Timers);
    FTrayAvailable = context.TrayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable());
    FAutoStart.OnNotAllowed = [this](const std::string& text) {
        FMessageBox->ShowMessageBox(text, mtInformation, mbOK);
    };
    ConnectHandlers();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TfrmMain::~TfrmMain() {
    FormDestroy();
    // The help has no parent (a prompt must not block it), so the window frees it.
    delete FHelp.data();
}

void TfrmMain::CreateControls() {
    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setGeometry(0, 0, kClientWidth, kClientHeight);
    StatusTab = new TStatusTab(PageControl);
    ScanTab = new TScanTab(PageControl);
    StatisticsTab = new TStatisticsTab(PageControl);
    UpdateTab = new TUpdateTab(PageControl);
    OptionsTab = new TOptionsTab(PageControl);
    PageControl->addTab(StatusTab, QStringLiteral("Status"));
    PageControl->addTab(ScanTab, QStringLiteral("Skanowanie"));
    PageControl->addTab(StatisticsTab, QStringLiteral("Statystyka"));
    PageControl->addTab(UpdateTab, QStringLiteral("Aktualizacja"));
    PageControl->addTab(OptionsTab, QStringLiteral("Opcje"));

    // Above the pages, so they show on every tab.
    btnHelp = new QPushButton(QStringLiteral(" Pomoc"), this);
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    btnHelp->setIcon(ProgramIcon(QStringLiteral("glyph_help")));
    btnHelp->setGeometry(246, 272, 92, 25);
    btnMinimize = new QPushButton(QStringLiteral(" Ukryj"), this);
    btnMinimize->setObjectName(QStringLiteral("btnMinimize"));
    btnMinimize->setGeometry(344, 272, 92, 25);
    btnHelp->raise();
    btnMinimize->raise();
}

void TfrmMain::ConnectHandlers() {
    const auto on = [this](QPushButton* button, std::function<void()> handler) {
        connect(button, &QPushButton::clicked, this, [this, handler] { Guarded(handler); });
    };
    on(btnHelp, [this] { btnHelpClick(); });
    on(btnMinimize, [this] { btnMinimizeClick(); });
    on(StatusTab->btnConnect, [this] { btnConnectClick(); });
    on(StatusTab->btnBreakConnection, [this] { HangUpAll(); });
    on(ScanTab->btnStartSkan, [this] { btnStartSkanClick(); });
    on(ScanTab->btnAbortScaning, [this] { btnAbortScaningClick(); });
    on(ScanTab->btnRemoveDialers, [this] { btnRemoveDialersClick(); });
    on(StatisticsTab->btnRefreshStatistics, [this] { btnRefreshStatisticsClick(); });
    on(UpdateTab->btnUpdate, [this] { btnUpdateClick(); });
    on(OptionsTab->btnAddConnection, [this] { btnAddConnectionClick(); });
    on(OptionsTab->btnDeleteConnection, [this] { btnDeleteConnectionClick(); });
    StatusTab->imgLogo->OnClick = [this] {
        FTray->ShowLogoAnimation();
    };

    connect(OptionsTab->cmbSkins, &QComboBox::currentIndexChanged, this,
            [this] { Guarded([this] { cmbSkinsClick(); }); });
    connect(OptionsTab->cmbScanFrequency, &QComboBox::currentIndexChanged, this,
            [this] { Guarded([this] { cmbScanFrequencyClick(); }); });
    connect(OptionsTab->chbAutoStart, &QCheckBox::toggled, this,
            [this] { Guarded([this] { chbAutoStartClick(); }); });
    BindOption(OptionsTab->chbExeMonitoring, "check_exe", true);
    BindOption(OptionsTab->chbCheckEntries, "check_entries", true);
    BindOption(OptionsTab->chbAutoUpdate, "autoupdate", true);
    BindOption(OptionsTab->chbChildMode, "childmode", false);
    BindOption(OptionsTab->chbSoundEffect, "sound_effect", true);
    connect(PageControl, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 2 && FSubsystems)
            Guarded([this] { FSubsystems->RefreshStatistics(); });
    });

    FTrayIcon->OnShowMainWindow = [this] {
        ShowMainWindow();
    };
    FTrayIcon->OnMenuOpening = [this] {
        FTrayIcon->miBreakConnection->setEnabled(IsConnectionUp());
    };
    FTrayIcon->OnBreakConnection = [this] {
        Guarded([this] { HangUpAll(); });
    };
    FTrayIcon->OnClose = [this] {
        mnuCloseClick();
    };
}

void TfrmMain::BindOption(QCheckBox* box, const char* key, bool defaultValue) {
    connect(box, &QCheckBox::toggled, this, [this, box, key, defaultValue](bool checked) {
        if (FLoading)
            return;
        WriteOption(
            [this, key, checked] { Ini().WriteBool(key, checked, kMain); },
            [this, box, key, defaultValue] { box->setChecked(Ini().ReadBool(key, defaultValue, kMain)); });
    });
}

void TfrmMain::WriteOption(const std::function<void()>& write, const std::function<void()>& showStored) {
    try {
        write();
    } catch (const std::exception& e) {
        // A refused write leaves the file as it was; the control is set back to what the file
        // holds before the error is shown, so the screen never claims a setting that is not kept.
        try {
            TFlagScope loading(FLoading, true);
            showStored();
        } catch (const std::exception&) {
            // The file cannot be read either: the error below says what matters.
        }
        ShowError(e.what());
    }
}

void TfrmMain::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
}

void TfrmMain::ShowError(const std::string& text) {
    if (!FMessageBox) {
        // Only before the box exists: the creation sequence's first steps.
        std::fprintf(stderr, "QmVardel: %s\n", text.c_str());
        return;
    }
    FMessageBox->ShowMessageBox(text, mtError, mbOK);
}

void TfrmMain::FormCreate() {
    // The steps of the fixed creation order, over this window; the order and the failure rules are
    // the Qt-free sequence's.
    class TSteps : public ICreationSteps {
    public:
        explicit TSteps(TfrmMain& w) : W(w) {}
        void InitFields() override { W.FClosing = false; }
        void CreateMessageBox() override {
            if (W.FContext.MessageBox) {
                W.FMessageBox = W.FContext.MessageBox;
            } else {
                auto own = std::make_unique<TSkinMessageBoxPort>(&W);
                own->Box().OnHelp = [this] {
                    W.ShowHelpTopic("");
                };
                W.FOwnMessageBox = std::move(own);
                W.FMessageBox = W.FOwnMessageBox.get();
            }
            W.FMessageBox->SetSkins(W.DialogSkinData, W.bsSkinData);
        }
        void CreateAllowedList() override {
            W.FSubsystems = std::make_unique<TMainComposition>(
                TMainCompositionContext{.App = W.FApp,
                                        .Timers = W.FContext.Timers,
                                        .DialGuard = W.FContext.DialGuard,
                                        .TapiMonitor = W.FContext.TapiMonitor,
                                        .Scan = W.FContext.Scan,
                                        .ExecutablePath = W.FContext.ExecutablePath,
                                        .Detection = W.FContext.Detection,
                                        .Update = W.FContext.Update,
                                        .Clock = W.FContext.Clock},
                W);
        }
        // The signature database is created with the subsystems, over FApp.SygnatureFile().
        void CreateSygnatureManager() override {}
        void ClearFlags() override { W.FLoading = false; }
        void SetScanAnimation() override { W.SetScanAnimation(0); }
        void SetStatisticsHeaders() override { W.FSubsystems->SetStatisticsHeaders(); }
        void LoadSettings() override { W.LoadSettings(); }
        void StartScanTimer() override { W.FSubsystems->StartScanTimer(); }
        void SetNotConnected() override { W.SetNotConnected(); }
        void ApplyCommandLine() override { W.ApplyCommandLine(); }
        void StartLineMonitor() override { W.FSubsystems->StartLineMonitor(); }
        void FillEntries() override {
            W.FillEntries();
            if (W.StatusTab->cmbEntries->count() > 0)
                W.StatusTab->cmbEntries->setCurrentIndex(0);
        }
        void ShowStatusPage() override { W.PageControl->setCurrentWidget(W.StatusTab); }
        void ShowDatabaseInfo() override { W.FSubsystems->ShowDatabaseInfo(); }
        bool CheckHookFiles() override { return W.FSubsystems->CheckHookFiles(); }
        void StartHooks() override { W.FSubsystems->StartHooks(); }
        void CheckRunningDialers() override { W.FSubsystems->CheckRunningDialers(); }
        bool IsFirstRun() const override { return W.FApp.FirstRun; }
        void ShowDefaultHelp() override { W.ShowHelpTopic(""); }
        void PickAllowedNumbers() override { W.FSubsystems->PickAllowedNumbers(); }
        void CheckEntries() override { W.FSubsystems->CheckEntries(); }
        void ShowError(const std::string& text) override { W.ShowError(text); }

    private:
        TfrmMain& W;
    } steps(*this);
    RunCreationSequence(steps);
}

void TfrmMain::LoadSettings() {
    TFlagScope loading(FLoading, true);
    const int skin = Ini().ReadInt("skin", 0, kMain);
    // A stored index outside the list falls back to the first skin.
    OptionsTab->cmbSkins->setCurrentIndex(skin >= 0 && skin < 4 ? skin : 0);
    ApplySkin(OptionsTab->cmbSkins->currentIndex());
    const int frequency = Ini().ReadInt("scan_frequency", 2, kMain);
    {
        // Set without the change signal, then saved once: every start writes the value back.
        const QSignalBlocker blocker(OptionsTab->cmbScanFrequency);
        OptionsTab->cmbScanFrequency->setCurrentIndex(frequency >= 0 && frequency < 4 ? frequency : 2);
    }
    cmbScanFrequencyClick();
    if (FApp.FirstRun)
        FAutoStart.SetAutoStart(true);
    OptionsTab->chbExeMonitoring->setChecked(Ini().ReadBool("check_exe", true, kMain));
    OptionsTab->chbAutoStart->setChecked(FAutoStart.IsAutoStartSet());
    OptionsTab->chbCheckEntries->setChecked(Ini().ReadBool("check_entries", true, kMain));
    OptionsTab->chbAutoUpdate->setChecked(Ini().ReadBool("autoupdate", true, kMain));
    OptionsTab->chbChildMode->setChecked(Ini().ReadBool("childmode", false, kMain));
    OptionsTab->chbSoundEffect->setChecked(Ini().ReadBool("sound_effect", true, kMain));
    std::vector<std::string> numbers;
    Ini().ReadList(kAllowedConnectionsSection, numbers);
    TAllowedList& list = *FSubsystems->AllowedList();
    list.Assign(std::move(numbers));
    ShowAllowedNumbers(list.Items());
    FSubsystems->RefreshStatistics();
}

void TfrmMain::ApplySkin(int index) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestoreCursor {
        ~TRestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restoreCursor;
    TFlagScope loading(FLoading, true);
    const QString folder =
        QDir(QString::fromStdString(qm::IncludeTrailingPathDelimiter(FApp.AppDir)))
            .filePath(QStringLiteral("Skins/%1")
                          .arg(QLatin1String(kSkinFolders[index >= 0 && index < 4 ? index : 0])));
    LoadSkinFile(QDir(folder).filePath(QStringLiteral("skin.ini")), TSkinKind::skControls, *bsSkinData);
    const QString dialog = QDir(folder).filePath(QStringLiteral("dialog.in1"));
    if (!QFileInfo::exists(dialog) || !LoadSkinFile(dialog, TSkinKind::skDialogFrame, *DialogSkinData))
        DialogSkinData->Clear();
    // A new style sheet gives the controls that only inherit their font the application's default
    // when it polishes them again; a font of their own (the window's) is kept.
    for (QWidget* control : findChildren<QWidget*>())
        if (!control->testAttribute(Qt::WA_SetFont))
            control->setFont(control->font());
    setStyleSheet(bsSkinData->Loaded ? bsSkinData->StyleSheet : QString());
    setPalette(bsSkinData->Loaded && bsSkinData->Palette ? *bsSkinData->Palette : QApplication::palette());
    FTrayIcon->mnuTrayPopup->setStyleSheet(styleSheet());
    if (FHelp)
        FHelp->setStyleSheet(styleSheet());
    if (FMessageBox)
        FMessageBox->SetSkins(DialogSkinData, bsSkinData);
}

void TfrmMain::cmbSkinsClick() {
    if (FLoading)
        return;
    const int index = OptionsTab->cmbSkins->currentIndex();
    ApplySkin(index);
    OptionsTab->update();
    WriteOption([this, index] { Ini().WriteInt("skin", index, kMain); },
                [this] {
                    const int stored = Ini().ReadInt("skin", 0, kMain);
                    OptionsTab->cmbSkins->setCurrentIndex(stored >= 0 && stored < 4 ? stored : 0);
                    ApplySkin(OptionsTab->cmbSkins->currentIndex());
                });
}

void TfrmMain::cmbScanFrequencyClick() {
    WriteOption(
        [this] { Ini().WriteInt("scan_frequency", OptionsTab->cmbScanFrequency->currentIndex(), kMain); },
        [this] {
            const int stored = Ini().ReadInt("scan_frequency", 2, kMain);
            const QSignalBlocker blocker(OptionsTab->cmbScanFrequency);
            OptionsTab->cmbScanFrequency->setCurrentIndex(stored >= 0 && stored < 4 ? stored : 2);
        });
}

void TfrmMain::chbAutoStartClick() {
    if (FLoading)
        return;
    FAutoStart.SetAutoStart(OptionsTab->chbAutoStart->isChecked());
    TFlagScope loading(FLoading, true);
    OptionsTab->chbAutoStart->setChecked(FAutoStart.IsAutoStartSet());
}

void TfrmMain::ShowAllowedNumbers(const std::vector<std::string>& items) {
    QListWidget* list = OptionsTab->lstAllowedConnections;
    list->clear();
    for (const std::string& number : items)
        list->addItem(QString::fromStdString(number));
}

void TfrmMain::btnAddConnectionClick() {
    // After the session's clean-up the list is gone; the window may still be up if the end of
    // work was cancelled.
    TAllowedList* allowed = FSubsystems ? FSubsystems->AllowedList() : nullptr;
    if (!allowed)
        return;
    const TQueryResult answer =
        QueryInput("Dozwolony numer", "Podaj dozwolony numer", bsSkinData, DialogSkinData);
    if (!answer.Ok || qm::Trim(answer.Text).empty())
        return;
    allowed->Add(answer.Text);
    if (OptionsTab->lstAllowedConnections->isVisible() && OptionsTab->lstAllowedConnections->isEnabled())
        OptionsTab->lstAllowedConnections->setFocus();
}

void TfrmMain::btnDeleteConnectionClick() {
    QListWidget* list = OptionsTab->lstAllowedConnections;
    TAllowedList* allowed = FSubsystems ? FSubsystems->AllowedList() : nullptr;
    if (!allowed || list->count() == 0)
        return;
    if (const QListWidgetItem* item = list->currentItem(); item && item->isSelected())
        allowed->DeleteFirst(item->text().toStdString());
    if (list->isVisible() && list->isEnabled())
        list->setFocus();
}

void TfrmMain::btnHelpClick() {
    const int index = PageControl->currentIndex();
    if (index >= 0 && index < 5)
        ShowHelpTopic(kTabHelpTopics[index]);
}

void TfrmMain::ShowHelpTopic(const std::string& topic) {
    if (!FHelp) {
        FHelp = new THelpWindow();
        FHelp->setAttribute(Qt::WA_DeleteOnClose, false);
        FHelp->setStyleSheet(styleSheet());
    }
    // The help document is found by its full path, so the current directory is left alone.
    const QString file = QDir(QString::fromStdString(FApp.AppDir)).filePath(QLatin1String(kHelpFileName));
    FHelp->ShowTopic(file, QString::fromStdString(topic));
}

THelpWindow* TfrmMain::HelpWindow() const {
    return FHelp.data();
}

#include "MainWindowFixture.h"

#include "ui/uHelpWindow.h"
#include "ui/uSkinLoader.h"
#include "ui/ufAlarmMessageDlg.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufStatusTab.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QTextBrowser>

#include <fstream>

namespace {

QString CaptionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* m = dynamic_cast<TQmLabel*>(w))
        return QString::fromStdString(m->Caption());
    return {};
}

TEST_F(TMainWindowTest, EveryNamedControlExistsWithItsCaption) {
    Start();
    // "Qm Vardel " until the hook start names the window exactly "Qm Vardel".
    EXPECT_EQ(Frm->windowTitle(), "Qm Vardel");
    EXPECT_EQ(Frm->size(), QSize(446, 306));
    EXPECT_EQ(Frm->minimumSize(), Frm->maximumSize()) << "fixed frame";
    EXPECT_EQ(Frm->font().family(), "Arial");
    EXPECT_EQ(Frm->font().pixelSize(), 15);
    EXPECT_FALSE(Frm->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(Frm->windowFlags() & Qt::WindowMaximizeButtonHint);

    const std::vector<std::pair<const char*, QString>> controls = {
        {"imgLogo", {}},
        {"bsSkinGroupBox2", "Stan połączenia modemowego"},
        {"imgConnectionState", {}},
        {"lblConnectionInfo", "Nie połączony"},
        {"lblTelNumber", ""},
        {"labConnectionTime", " "},
        {"btnBreakConnection", "Rozłącz"},
        {"Label7", "Dostępne połączenia"},
        {"cmbEntries", {}},
        {"btnConnect", "Połącz"},
        {"labScanInfo",
         "Kliknięcie  przycisku <b>Rozpocznij skanowanie<plain> rozpocznie przeszukiwanie dysków "
         "komputera w celu odnalezienia dialerów."},
        {"btnStartSkan", "Rozpocznij skanowanie"},
        {"btnAbortScaning", "Przerwij skanowanie"},
        {"ScanAnimationNotebook", {}},
        {"ScaningOff", {}},
        {"ScaningOn", {}},
        {"Warning", {}},
        {"aniScaning", {}},
        {"aniSiren", {}},
        {"ScanResultNotebook", {}},
        {"ResultList", {}},
        {"lblScanDirectory", ""},
        {"lstFoundDialers", {}},
        {"labSearchResult", " "},
        {"btnRemoveDialers", "Usuń Dialery"},
        {"ResultOk", {}},
        {"imgSearchOk", {}},
        {"Label6", "Na Twoim komputerze nie odnaleziono żadnych dialerów. "},
        {"Label2", "Statystyka połączeń"},
        {"grdStatistics", {}},
        {"btnRefreshStatistics", "Odśwież statystyki"},
        {"Image1", {}},
        {"labUpdateInfo",
         "Kliknięcie  przycisku <b>Aktualizuj<plain> rozpocznie pobieranie aktualnej bazy dialerów z "
         "Internetu. Aby funkcja działała poprawnie komputer powinien być \"online\" (połączony z "
         "Siecią)."},
        {"btnUpdate", " Aktualizuj"},
        {"memUpdate", {}},
        {"labDataVersionInfo", " "},
        {"Label1", "Skóry"},
        {"cmbSkins", {}},
        {"Label5", "Częstotliwość skanowania komputera"},
        {"cmbScanFrequency", {}},
        {"chbAutoStart", "Uruchamiaj po starcie systemu"},
        {"chbExeMonitoring", "Monitoruj uruchamiane aplikacje"},
        {"chbCheckEntries", "Sprawdzanie wpisów konfiguracyjnych"},
        {"chbAutoUpdate", "Autoaktualizacja bazy danych dialerów"},
        {"chbChildMode", "Tryb małego dziecka"},
        {"chbSoundEffect", "Efekty dźwiękowe w czasie alarmu"},
        {"groAllowedConnections", "Dozwolone połączenia"},
        {"lstAllowedConnections", {}},
        {"btnAddConnection", " Dodaj numer"},
        {"btnDeleteConnection", " Usuń numer"},
        {"bsSkinStdLabel1", "Objaśnienia uzyskasz klikając przycisk:"},
        {"btnHelp", " Pomoc"},
        {"btnMinimize", " Ukryj"},
    };
    for (const auto& [name, caption] : controls) {
        QWidget* w = Find<QWidget>(name);
        ASSERT_NE(w, nullptr) << name;
        if (!caption.isNull()) {
            EXPECT_EQ(CaptionOf(w), caption) << name;
        }
    }

    const QStringList tabs = {"Status", "Skanowanie", "Statystyka", "Aktualizacja", "Opcje"};
    const QStringList tabNames = {"tsStatusPage", "tsScaning", "tsStatistics", "tsAutoupdate",
                                  "bsSkinTabSheet3"};
    ASSERT_EQ(Frm->PageControl->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Frm->PageControl->tabText(i), tabs[i]);
        EXPECT_EQ(Frm->PageControl->widget(i)->objectName(), tabNames[i]);
    }
    EXPECT_EQ(Frm->PageControl->currentIndex(), 0) << "Status is shown at start";
    // The two buttons belong to the window, above the pages, so every tab shows them.
    EXPECT_EQ(Frm->btnHelp->parentWidget(), Frm.get());
    EXPECT_EQ(Frm->btnMinimize->parentWidget(), Frm.get());

    auto* skins = Find<QComboBox>("cmbSkins");
    ASSERT_EQ(skins->count(), 4);
    EXPECT_EQ(skins->itemText(0), "Corona");
    EXPECT_EQ(skins->itemText(3), "Newtek");
    auto* frequency = Find<QComboBox>("cmbScanFrequency");
    EXPECT_EQ(frequency->itemText(1), "co tydzień");
    EXPECT_EQ(frequency->itemText(3), "nie wykonuj");
    auto* grid = Find<QTableWidget>("grdStatistics");
    EXPECT_EQ(grid->rowCount(), 1) << "an empty list: the header row only";
    EXPECT_EQ(grid->columnCount(), 5);
    EXPECT_TRUE(Find<QWidget>("ScanResultNotebook")->isHidden());
    EXPECT_TRUE(Find<QWidget>("btnBreakConnection")->isHidden());
    EXPECT_TRUE(Find<QWidget>("labConnectionTime")->isHidden());
}

TEST_F(TMainWindowTest, LoadSettingsFillsControlsAndWritesOnlyScanFrequency) {
    const std::string ini = "[main]\nfirst_run_flg=0\nskin=2\ncheck_exe=0\ncheck_entries=0\nautoupdate=0\n"
                            "childmode=1\nsound_effect=0\n[allowed_connections]\n0=0202122\n1=0700 11\n";
    Start(ini);
    EXPECT_EQ(Files.Replacements, 1);
    EXPECT_EQ(IniText(),
              "[main]\nfirst_run_flg=0\nskin=2\ncheck_exe=0\ncheck_entries=0\nautoupdate=0\n"
              "childmode=1\nsound_effect=0\nscan_frequency=2\n[allowed_connections]\n0=0202122\n1=0700 11\n");
    EXPECT_EQ(Find<QComboBox>("cmbSkins")->currentIndex(), 2);
    EXPECT_TRUE(Frm->bsSkinData->Loaded);
    EXPECT_FALSE(Find<QCheckBox>("chbExeMonitoring")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chbCheckEntries")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chbAutoUpdate")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chbChildMode")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chbSoundEffect")->isChecked());
    auto* list = Find<QListWidget>("lstAllowedConnections");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text(), "0700 11");
    EXPECT_FALSE(Frm->IsLoading());
    EXPECT_EQ(Box.Calls.size(), 0u);
}

TEST_F(TMainWindowTest, OutOfRangeStoredIndexesFallBackToDefaults) {
    Start("[main]\nfirst_run_flg=0\nskin=9\nscan_frequency=7\n");
    EXPECT_EQ(Find<QComboBox>("cmbSkins")->currentIndex(), 0);
    EXPECT_EQ(Find<QComboBox>("cmbScanFrequency")->currentIndex(), 2);
    EXPECT_NE(IniText().find("scan_frequency=2"), std::string::npos);
}

TEST_F(TMainWindowTest, EachOptionChangeWritesItsKeyAndNothingElse) {
    struct TRow {
        const char* Control;
        const char* Line;
    };
    Start();
    const std::string base = IniText();
    for (const TRow& row : {TRow{"chbExeMonitoring", "check_exe=0"},
                            TRow{"chbCheckEntries", "check_entries=0"}, TRow{"chbAutoUpdate", "autoupdate=0"},
                            TRow{"chbChildMode", "childmode=1"}, TRow{"chbSoundEffect", "sound_effect=0"}}) {
        Files.Put(IniPath(), base);
        const int before = Files.Replacements;
        Find<QCheckBox>(row.Control)->toggle();
        EXPECT_EQ(Files.Replacements, before + 1) << row.Control;
        EXPECT_EQ(IniText(), base + row.Line + "\n") << row.Control;
    }
    Files.Put(IniPath(), base);
    Find<QComboBox>("cmbScanFrequency")->setCurrentIndex(0);
    EXPECT_EQ(IniText(), "[main]\nfirst_run_flg=0\nscan_frequency=0\n");
    Files.Put(IniPath(), base);
    Find<QComboBox>("cmbSkins")->setCurrentIndex(1);
    EXPECT_EQ(IniText(), base + "skin=1\n");
    EXPECT_EQ(AutoStart.Writes + AutoStart.Deletes, 0) << "the autostart box writes no settings key";
}

TEST_F(TMainWindowTest, ChoosingNewtekStoresSkinThreeAndGivesPlainDialogFramesWithSkinnedButtons) {
    Start();
    EXPECT_TRUE(Frm->DialogSkinData->Loaded) << "Corona has a dialog frame";
    Find<QComboBox>("cmbSkins")->setCurrentIndex(3);
    EXPECT_NE(IniText().find("skin=3"), std::string::npos);
    EXPECT_TRUE(Frm->bsSkinData->Loaded);
    EXPECT_EQ(Frm->bsSkinData->ButtonHeight, 27) << "newtek's own button height";
    EXPECT_FALSE(Frm->DialogSkinData->Loaded);
    EXPECT_EQ(Box.Frame, Frm->DialogSkinData);
    EXPECT_EQ(Box.Controls, Frm->bsSkinData);
    EXPECT_FALSE(Frm->IsLoading());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass is gone";

    bool frameSkinned = true;
    bool buttonsSkinned = false;
    OnNextModal([&](QWidget* w) {
        auto* dlg = dynamic_cast<TfrmAlarmMessageDlg*>(w);
        ASSERT_NE(dlg, nullptr);
        frameSkinned = dlg->bsBusinessSkinForm->IsFrameSkinned();
        buttonsSkinned = dlg->bsBusinessSkinForm->AreControlsSkinned();
        dlg->accept();
    });
    ShowAlarmMessage(*Frm, "x");
    EXPECT_FALSE(frameSkinned);
    EXPECT_TRUE(buttonsSkinned);

    // The program's own message box takes its sizes from the same skins.
    TSkinMessageBoxPort real(Frm.get());
    real.SetSkins(Frm->DialogSkinData, Frm->bsSkinData);
    EXPECT_EQ(real.Box().ButtonHeight(), 27);
    EXPECT_EQ(real.Box().FrameMinWidth(), 120) << "plain frame";
    Find<QComboBox>("cmbSkins")->setCurrentIndex(0);
    EXPECT_EQ(real.Box().FrameMinWidth(), 160) << "Corona's frame picture";
}

TEST_F(TMainWindowTest, MissingOrIncompleteSkinLeavesThePlainLook) {
    std::filesystem::remove_all(AppDir() + "Skins/corona!");
    std::filesystem::create_directories(AppDir() + "Skins/ecliptic");
    Start();
    EXPECT_FALSE(Frm->bsSkinData->Loaded);
    EXPECT_FALSE(Frm->DialogSkinData->Loaded);
    EXPECT_TRUE(Frm->styleSheet().isEmpty());
    // An ecliptic skin.ini without its SKINCONTROLS section is no skin either.
    std::ofstream(AppDir() + "Skins/ecliptic/skin.ini")
        << "[VERSION]\n[PICTURES]\n[FORMINFO]\n[SKINOBJECTS]\n";
    Find<QComboBox>("cmbSkins")->setCurrentIndex(2);
    EXPECT_FALSE(Frm->bsSkinData->Loaded);
    EXPECT_FALSE(Frm->IsLoading());
}

TEST(SkinLoader, ValuesThatAreNotColoursNeverReachTheStyleSheet) {
    QTemporaryDir dir;
    const QString path = dir.filePath("skin.ini");
    std::ofstream(path.toStdString()) << "[VERSION]\n[PICTURES]\nbad=../../etc/passwd\n[FORMINFO]\n"
                                         "face=red; } QWidget { background: black\n[SKINOBJECTS]\n"
                                         "button.face=#102030\nbutton.text=url(x)\nbutton.height=31\n"
                                         "checkbox.checked=bad\ncheckbox.unchecked=bad\n[SKINCONTROLS]\n"
                                         "QPushButton=button\nQCheckBox=checkbox\n";
    TbsSkinData skin;
    ASSERT_TRUE(LoadSkinFile(path, TSkinKind::skControls, skin));
    EXPECT_FALSE(skin.StyleSheet.contains("black"));
    EXPECT_FALSE(skin.StyleSheet.contains("url(x)"));
    EXPECT_FALSE(skin.StyleSheet.contains("passwd"));
    EXPECT_TRUE(skin.StyleSheet.contains("#ff102030"));
    EXPECT_EQ(skin.ButtonHeight, 31);
}

TEST(SkinLoader, ShippedSkinsLoadAndDiffer) {
    QStringList sheets;
    for (const char* folder : kSkinFolders) {
        TbsSkinData controls;
        const QString dir = QStringLiteral(QM_TEST_SOURCE_DIR "/resources/Skins/") + folder;
        ASSERT_TRUE(LoadSkinFile(dir + "/skin.ini", TSkinKind::skControls, controls)) << folder;
        EXPECT_GT(controls.ButtonHeight, 0);
        EXPECT_TRUE(controls.LabelFont.has_value());
        EXPECT_FALSE(sheets.contains(controls.StyleSheet));
        sheets << controls.StyleSheet;
        TbsSkinData frame;
        const bool hasFrame = LoadSkinFile(dir + "/dialog.in1", TSkinKind::skDialogFrame, frame);
        EXPECT_EQ(hasFrame, std::string(folder) != "newtek") << folder;
        if (hasFrame) {
            EXPECT_EQ(frame.FrameMinWidth, 160) << "the width of the frame picture";
        }
    }
}

TEST_F(TMainWindowTest, HelpButtonOpensTheShownTabsTopic) {
    Start();
    for (int i = 0; i < 5; ++i) {
        Frm->PageControl->setCurrentIndex(i);
        QTest::mouseClick(Frm->btnHelp, Qt::LeftButton);
        ASSERT_NE(Frm->HelpWindow(), nullptr);
        EXPECT_EQ(Frm->HelpWindow()->CurrentTopic(), QString::fromUtf8(kTabHelpTopics[i]));
        EXPECT_TRUE(Frm->HelpWindow()->Problem().isEmpty()) << Frm->HelpWindow()->Problem().toStdString();
    }
    EXPECT_EQ(QString::fromUtf8(kTabHelpTopics[3]), "zakladka_aktualizacja");
    EXPECT_EQ(QString::fromUtf8(kTabHelpTopics[4]), "zakladka_opcje");
    Frm->ShowHelpTopic("");
    EXPECT_EQ(Frm->HelpWindow()->CurrentTopic(), "Cotozaprogram");
    for (const char* topic : {"mechanizm_blokowania_polaczen", "mechanizm_sprawdzania_uruchami"}) {
        Frm->ShowHelpTopic(topic);
        EXPECT_TRUE(Frm->HelpWindow()->Problem().isEmpty()) << topic;
    }
    Frm->ShowHelpTopic("nie_ma_takiego");
    EXPECT_FALSE(Frm->HelpWindow()->Problem().isEmpty());
}

TEST_F(TMainWindowTest, MissingHelpFileIsReportedByTheHelpWindow) {
    std::filesystem::remove(AppDir() + "QmVardel.html");
    Start();
    QTest::mouseClick(Frm->btnHelp, Qt::LeftButton);
    ASSERT_NE(Frm->HelpWindow(), nullptr);
    EXPECT_TRUE(Frm->HelpWindow()->isVisible());
    EXPECT_TRUE(Frm->HelpWindow()->Problem().contains("QmVardel.html"));
    EXPECT_TRUE(Frm->HelpWindow()->Browser()->toPlainText().contains("Pomoc niedostępna"));
}

TEST_F(TMainWindowTest, FirstRunOpensTheDefaultHelpTopicAndSwitchesAutostartOn) {
    Start("");
    EXPECT_TRUE(App->FirstRun);
    ASSERT_NE(Frm->HelpWindow(), nullptr);
    EXPECT_EQ(Frm->HelpWindow()->CurrentTopic(), "Cotozaprogram");
    EXPECT_EQ(AutoStart.Entries.at("QmVardel"), "\"" + Image.Path + "\" tray");
    EXPECT_TRUE(Find<QCheckBox>("chbAutoStart")->isChecked());
}

TEST_F(TMainWindowTest, LaterRunOpensNoHelp) {
    Start();
    EXPECT_EQ(Frm->HelpWindow(), nullptr);
    EXPECT_EQ(AutoStart.Writes, 0);
}

TEST_F(TMainWindowTest, FirstRunWithoutRightsShowsTheAdministratorMessage) {
    AutoStart.Changeable = false;
    Start("");
    ASSERT_EQ(Box.Calls.size(), 1u);
    EXPECT_EQ(Box.Calls[0].Text, "Opcje tą może zmienić tylko administrator systemu.");
    EXPECT_EQ(Box.Calls[0].Kind, mtInformation);
    EXPECT_EQ(Box.Calls[0].Buttons, mbOK);
    EXPECT_FALSE(Find<QCheckBox>("chbAutoStart")->isChecked());
}

TEST_F(TMainWindowTest, AutoStartBoxShowsTheRealState) {
    AutoStart.Entries["QmVardel"] = "\"/elsewhere/QmVardel\" tray";
    Start();
    auto* box = Find<QCheckBox>("chbAutoStart");
    EXPECT_FALSE(box->isChecked()) << "the value starts another copy";
    box->setChecked(true);
    EXPECT_EQ(AutoStart.Entries.at("QmVardel"), "\"" + Image.Path + "\" tray");
    EXPECT_TRUE(box->isChecked());
    box->setChecked(false);
    EXPECT_EQ(AutoStart.Entries.count("QmVardel"), 0u);
    AutoStart.Changeable = false;
    box->setChecked(true);
    EXPECT_FALSE(box->isChecked()) << "falls back when the write is refused";
    ASSERT_EQ(Box.Calls.size(), 1u);
    EXPECT_EQ(Box.Calls[0].Text, "Opcje tą może zmienić tylko administrator systemu.");
}

TEST_F(TMainWindowTest, RefusedSettingsWriteIsShownAsAnErrorAndTheControlShowsTheFile) {
    // Each row changes one option control while the file cannot be written; afterwards the
    // control shows what the file holds again.
    struct TCase {
        const char* Name;
        std::function<void(TfrmMain&)> Change;
        std::function<bool(TfrmMain&)> ShowsStored;
    } cases[] = {
        {"child mode", [](TfrmMain& f) { f.OptionsTab->chbChildMode->setChecked(true); },
         [](TfrmMain& f) {
             return !f.OptionsTab->chbChildMode->isChecked();
         }},
        {"sound", [](TfrmMain& f) { f.OptionsTab->chbSoundEffect->setChecked(false); },
         [](TfrmMain& f) {
             return f.OptionsTab->chbSoundEffect->isChecked();
         }},
        {"skin", [](TfrmMain& f) { f.OptionsTab->cmbSkins->setCurrentIndex(2); },
         [](TfrmMain& f) {
             return f.OptionsTab->cmbSkins->currentIndex() == 0;
         }},
        {"scan frequency", [](TfrmMain& f) { f.OptionsTab->cmbScanFrequency->setCurrentIndex(0); },
         [](TfrmMain& f) {
             return f.OptionsTab->cmbScanFrequency->currentIndex() == 2;
         }},
    };
    Start();
    const std::string before = IniText();
    Files.ReadOnlyDirs.insert(AppDir());
    for (const TCase& c : cases) {
        Box.Calls.clear();
        c.Change(*Frm);
        ASSERT_EQ(Box.Calls.size(), 1u) << c.Name;
        EXPECT_EQ(Box.Calls[0].Kind, mtError) << c.Name;
        EXPECT_NE(Box.Calls[0].Text.find("Unable to write to"), std::string::npos) << c.Name;
        EXPECT_TRUE(c.ShowsStored(*Frm)) << c.Name;
        EXPECT_FALSE(Frm->IsLoading()) << c.Name;
    }
    EXPECT_EQ(IniText(), before);
}

} // namespace

TEST_F(TMainWindowTest, EverySkinChangeKeepsTheWindowFont) {
    Start();
    auto* skins = Find<QComboBox>("cmbSkins");
    // Controls that no skin gives a font of its own.
    const std::vector<QWidget*> controls = {Frm.get(), Find<QCheckBox>("chbChildMode"), skins,
                                            Find<QComboBox>("cmbScanFrequency")};
    for (const int index : {1, 2, 3, 0, 2, 1}) {
        skins->setCurrentIndex(index);
        QApplication::processEvents();
        for (QWidget* control : controls) {
            const QFont font = control->font();
            EXPECT_EQ(font.family(), "Arial") << control->objectName().toStdString() << " skin " << index;
            EXPECT_EQ(font.pixelSize(), 15) << control->objectName().toStdString() << " skin " << index;
        }
    }
}

TEST_F(TMainWindowTest, ScanTabShowsNoTickBeforeAnyScan) {
    Start();
    const auto* still = Frm->findChild<QLabel*>("imgScaningOff");
    ASSERT_NE(still, nullptr);
    EXPECT_TRUE(still->pixmap().isNull());
    EXPECT_TRUE(Frm->findChild<QWidget*>("ScanResultNotebook")->isHidden());
}

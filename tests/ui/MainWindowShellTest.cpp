#include "MainWindowFixture.h"

#include "ui/uTrayIcon.h"
#include "ui/ufAlarmMessageDlg.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufQueryDlg.h"
#include "ui/ufStatusTab.h"

#include <QListWidget>

namespace {

TEST_F(TMainWindowTest, StartsNotConnectedWithIdleTrayAndNoIcon) {
    Start();
    EXPECT_EQ(Frm->TrayState(), trayIdle);
    EXPECT_EQ(Frm->TrayIcon()->Hint(), "QmVardel włączony");
    EXPECT_FALSE(Frm->TrayIcon()->IsRevealed()) << "no icon until the first minimise";
    EXPECT_FALSE(Frm->Subsystems().Connection().Timer().IsActive());
    EXPECT_TRUE(Frm->Subsystems().ScanStartTimer().IsActive());
    EXPECT_EQ(Frm->Subsystems().ScanStartTimer().Interval(), 100000);
}

TEST_F(TMainWindowTest, AlarmSoundPlaysOnceAndIsCutByTheNextAcceptedChange) {
    Start();
    Frm->SetTrayState(trayAlarm);
    ASSERT_EQ(Sound.Played.size(), 1u);
    EXPECT_EQ(Sound.Played[0], AppDir() + "alert.wav");
    EXPECT_TRUE(Sound.Playing);
    Frm->SetTrayState(trayUpdating);
    EXPECT_TRUE(Sound.Playing) << "a lower request leaves it playing";
    EXPECT_EQ(Frm->TrayIcon()->Hint(), "Alarm - kliknij aby sprawdzić");
    Frm->SetTrayState(trayReset);
    EXPECT_FALSE(Sound.Playing);
    EXPECT_EQ(Sound.Played.size(), 1u);
}

TEST_F(TMainWindowTest, NoSoundWhenTheOptionIsOffOrTheFileIsMissing) {
    Start();
    Find<QCheckBox>("chbSoundEffect")->setChecked(false);
    Frm->SetTrayState(trayAlarm);
    EXPECT_TRUE(Sound.Played.empty());
    EXPECT_TRUE(Frm->Tray().IsAnimating()) << "the animation and hint still change";
    Frm->SetTrayState(trayReset);
    Find<QCheckBox>("chbSoundEffect")->setChecked(true);
    std::filesystem::remove(AppDir() + "alert.wav");
    Frm->SetTrayState(trayAlarm);
    EXPECT_TRUE(Sound.Played.empty());
}

TEST_F(TMainWindowTest, ConnectionDrivesStatusTrayAndMenu) {
    Start();
    QAction* breakItem = Frm->TrayIcon()->miBreakConnection;
    emit Frm->TrayIcon()->mnuTrayPopup->aboutToShow();
    EXPECT_FALSE(breakItem->isEnabled()) << "greyed while no connection is up";

    Frm->SetConnected("0202122");
    EXPECT_EQ(Frm->TrayState(), trayConnected);
    EXPECT_EQ(Frm->TrayIcon()->Hint(), "Połączony z numerem: 0202122");
    EXPECT_EQ(Find<QLabel>("lblConnectionInfo")->text(), "Połączony z numerem:");
    EXPECT_EQ(Find<QLabel>("lblTelNumber")->text(), "0202122");
    EXPECT_FALSE(Find<QWidget>("btnBreakConnection")->isHidden());
    auto* time = Find<TQmLabel>("labConnectionTime");
    EXPECT_EQ(time->Caption(), " ");
    EXPECT_FALSE(time->isHidden());
    for (int i = 0; i < 3; ++i)
        static_cast<TFakeTimer&>(Frm->Subsystems().Connection().Timer()).Fire();
    EXPECT_EQ(time->Caption(), "Czas połączenia: .3 sekund");
    emit Frm->TrayIcon()->mnuTrayPopup->aboutToShow();
    EXPECT_TRUE(breakItem->isEnabled());

    Frm->SetTrayState(trayScanning);
    Frm->SetTrayState(trayReset);
    EXPECT_EQ(Frm->TrayState(), trayConnected) << "reset while connected goes on to connected";

    Frm->SetConnected(std::string(200, '7'));
    EXPECT_EQ(Frm->TrayIcon()->Hint().size(), 127) << "the notification area keeps 127 characters";

    Frm->SetNotConnected();
    EXPECT_EQ(Frm->TrayState(), trayIdle);
    EXPECT_EQ(Find<QLabel>("lblConnectionInfo")->text(), "Nie połączony");
    EXPECT_TRUE(Find<QWidget>("btnBreakConnection")->isHidden());
    EXPECT_TRUE(time->isHidden());
    emit Frm->TrayIcon()->mnuTrayPopup->aboutToShow();
    EXPECT_FALSE(breakItem->isEnabled());
}

TEST_F(TMainWindowTest, MinimisingHidesIntoTheTrayAndClicksBringTheWindowBack) {
    Start();
    Frm->show();
    QTest::mouseClick(Frm->btnMinimize, Qt::LeftButton);
    EXPECT_TRUE(Frm->TrayIcon()->IsRevealed());
    EXPECT_FALSE(Frm->isVisible());

    // A single click counts only after the double-click time.
    Frm->TrayIcon()->HandleActivation(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(Frm->isVisible());
    EXPECT_TRUE(Frm->TrayIcon()->ClickTimer().IsActive());
    EXPECT_EQ(Frm->TrayIcon()->ClickTimer().Interval(), QApplication::doubleClickInterval());
    static_cast<TFakeTimer&>(Frm->TrayIcon()->ClickTimer()).Fire();
    EXPECT_TRUE(Frm->isVisible());
    EXPECT_FALSE(Frm->isMinimized());
    EXPECT_TRUE(Frm->TrayIcon()->IsRevealed()) << "the icon stays";

    Frm->setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(Frm->isVisible());
    Frm->TrayIcon()->HandleActivation(QSystemTrayIcon::Trigger);
    Frm->TrayIcon()->HandleActivation(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(Frm->isVisible());
    EXPECT_FALSE(Frm->TrayIcon()->ClickTimer().IsActive()) << "the double click swallows the single one";

    Frm->setWindowState(Qt::WindowMinimized);
    Frm->TrayIcon()->mnuOpen->trigger();
    EXPECT_TRUE(Frm->isVisible());
}

TEST_F(TMainWindowTest, WithoutANotificationAreaTheWindowOnlyMinimises) {
    TrayAvailable = false;
    Start();
    Frm->show();
    QTest::mouseClick(Frm->btnMinimize, Qt::LeftButton);
    EXPECT_TRUE(Frm->isMinimized());
    EXPECT_TRUE(Frm->isVisible()) << "the user is never locked out";
    EXPECT_FALSE(Frm->TrayIcon()->IsRevealed());
}

TEST_F(TMainWindowTest, LogoClickShowsTheScanAnimationWithoutChangingState) {
    Start();
    QTest::mouseClick(Find<QWidget>("imgLogo"), Qt::LeftButton);
    EXPECT_EQ(Frm->TrayState(), trayIdle);
    EXPECT_EQ(Frm->Tray().CurrentList(), TTrayImageList::tilScanAnimate);
    EXPECT_EQ(Frm->Tray().AnimationInterval(), 120);
    EXPECT_EQ(Frm->TrayIcon()->Hint(), "QmVardel włączony");
    Frm->SetTrayState(trayReset);
    EXPECT_EQ(Frm->Tray().CurrentList(), TTrayImageList::tilTrayIcon);
}

TEST_F(TMainWindowTest, StartArgumentTrayExactlyStartsHidden) {
    struct TRow {
        const char* Argument;
        bool Hidden;
    };
    for (const TRow& row : {TRow{"tray", true}, TRow{"TRAY", false}, TRow{"/tray", false}, TRow{"", false}}) {
        Start("[main]\nfirst_run_flg=0\n",
              row.Argument[0] ? std::vector<std::string>{row.Argument} : std::vector<std::string>{});
        EXPECT_EQ(Frm->isMinimized(), row.Hidden) << row.Argument;
        EXPECT_EQ(Frm->TrayIcon()->IsRevealed(), row.Hidden) << row.Argument;
        Frm.reset();
        App.reset();
    }
}

TEST(QueryDialog, OkAnulujEscapeAndBlankAnswers) {
    struct TRow {
        const char* Typed;
        int Key; // 0: click Ok, -1: click Anuluj, else a key
        bool Ok;
        std::string Text;
    };
    for (const TRow& row : {TRow{"  0202 ", 0, true, "  0202 "}, TRow{"0700", -1, false, ""},
                            TRow{"0700", Qt::Key_Escape, false, ""},
                            TRow{"0800", Qt::Key_Return, true, "0800"}, TRow{"", 0, true, ""}}) {
        QString caption;
        QString prompt;
        OnNextModal([&](QWidget* w) {
            auto* dlg = dynamic_cast<TfrmQueryDlg*>(w);
            ASSERT_NE(dlg, nullptr);
            caption = dlg->windowTitle();
            prompt = dlg->labMsg->text();
            EXPECT_TRUE(dlg->tbInput->text().isEmpty());
            EXPECT_EQ(dlg->btnOk->text(), "Ok");
            EXPECT_EQ(dlg->btnCancel->text(), "Anuluj");
            QTest::keyClicks(dlg->tbInput, row.Typed);
            if (row.Key == 0)
                QTest::mouseClick(dlg->btnOk, Qt::LeftButton);
            else if (row.Key == -1)
                QTest::mouseClick(dlg->btnCancel, Qt::LeftButton);
            else
                QTest::keyClick(dlg->tbInput, static_cast<Qt::Key>(row.Key));
        });
        const TQueryResult result = QueryInput("Dozwolony numer", "Podaj dozwolony numer");
        EXPECT_EQ(caption, "Dozwolony numer");
        EXPECT_EQ(prompt, "Podaj dozwolony numer");
        EXPECT_EQ(result.Ok, row.Ok) << row.Typed;
        EXPECT_EQ(result.Text, row.Text) << row.Typed;
    }
}

TEST_F(TMainWindowTest, AddingAndDeletingNumbersFollowsTheList) {
    Start();
    Frm->show();
    Frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frm.get()));
    Frm->PageControl->setCurrentIndex(4);
    const auto add = [&](const char* typed, bool ok) {
        OnNextModal([typed, ok](QWidget* w) {
            auto* dlg = dynamic_cast<TfrmQueryDlg*>(w);
            QTest::keyClicks(dlg->tbInput, typed);
            QTest::mouseClick(ok ? dlg->btnOk : dlg->btnCancel, Qt::LeftButton);
        });
        QTest::mouseClick(Find<QPushButton>("btnAddConnection"), Qt::LeftButton);
    };
    const int before = Files.Replacements;
    add("   ", true);
    add("0700", false);
    EXPECT_EQ(Files.Replacements, before) << "blank and Anuluj write nothing";

    add("  0202 ", true);
    add("0700", true);
    add("0202", true);
    add("0700", true);
    auto* list = Find<QListWidget>("lstAllowedConnections");
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(0)->text(), "  0202 ") << "stored exactly as typed";
    std::vector<std::string> stored;
    App->Ini->ReadList("allowed_connections", stored);
    EXPECT_EQ(stored, (std::vector<std::string>{"  0202 ", "0700", "0202", "0700"}));

    // Nothing selected: nothing deleted, the focus moves to the list.
    list->setCurrentItem(nullptr);
    list->clearSelection();
    QTest::mouseClick(Find<QPushButton>("btnDeleteConnection"), Qt::LeftButton);
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(Frm->focusWidget(), list);

    // The second 0700 is selected, but the first equal one goes.
    list->setCurrentRow(3);
    QTest::mouseClick(Find<QPushButton>("btnDeleteConnection"), Qt::LeftButton);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(1)->text(), "0202");
    EXPECT_EQ(list->item(2)->text(), "0700");
    stored.clear();
    App->Ini->ReadList("allowed_connections", stored);
    EXPECT_EQ(stored, (std::vector<std::string>{"  0202 ", "0202", "0700"}))
        << "the whole section is rewritten";
    EXPECT_TRUE(Frm->AllowedList()->Contains("0700AbC") == false);
    EXPECT_TRUE(Frm->AllowedList()->Contains("0700"));
}

TEST_F(TMainWindowTest, CloseQueryAsksAndOnlyYesEnds) {
    Start();
    Frm->show();
    Box.Answers = {mrNo};
    EXPECT_FALSE(Frm->close());
    ASSERT_EQ(Box.Calls.size(), 1u);
    EXPECT_EQ(Box.Calls[0].Text, "Czy wyłączyć QmVardel?");
    EXPECT_EQ(Box.Calls[0].Kind, mtConfirmation);
    EXPECT_EQ(Box.Calls[0].Buttons, mbYes | mbNo);
    EXPECT_TRUE(Frm->isVisible());
    EXPECT_EQ(Terminations, 0);
    Box.Answers = {mrYes};
    EXPECT_TRUE(Frm->close());
    EXPECT_EQ(Terminations, 1);
}

TEST_F(TMainWindowTest, TrayMenuCloseEndsWithoutAQuestion) {
    Start();
    Frm->TrayIcon()->mnuClose->trigger();
    EXPECT_EQ(Terminations, 1);
    EXPECT_TRUE(Box.Calls.empty());
    EXPECT_EQ(Frm->TrayIcon()->mnuTrayPopup->actions().size(), 4);
    EXPECT_TRUE(Frm->TrayIcon()->mnuN2->isSeparator());
    EXPECT_EQ(Frm->TrayIcon()->mnuClose->text(), "Wyłącz vardela");
    EXPECT_EQ(Frm->TrayIcon()->mnuOpen->text(), "Otwórz");
    EXPECT_EQ(Frm->TrayIcon()->miBreakConnection->text(), "Przerwij połączenie");
}

TEST_F(TMainWindowTest, EndOfWorkAgreesAtOnceAndCleansUpExactlyOnce) {
    Start();
    Frm->show();
    EXPECT_TRUE(Frm->QueryEndSession());
    EXPECT_TRUE(Frm->IsClosing());
    EXPECT_EQ(FormDestroyRuns, 1);
    EXPECT_EQ(Frm->AllowedList(), nullptr);
    EXPECT_TRUE(Frm->close()) << "closes without the question";
    EXPECT_TRUE(Box.Calls.empty());
    // A cancelled end of work leaves the window running without its list: the buttons are safe.
    QTest::mouseClick(Find<QPushButton>("btnDeleteConnection"), Qt::LeftButton);
    Frm.reset();
    EXPECT_EQ(FormDestroyRuns, 1);
}

TEST_F(TMainWindowTest, WindowDestructionRunsFormDestroyOnce) {
    Start();
    Frm.reset();
    EXPECT_EQ(FormDestroyRuns, 1);
}

TEST_F(TMainWindowTest, AlarmMessageThroughTheWindowBlinksTheTrayAndFallsBack) {
    Start();
    Frm->SetConnected("0202");
    TTrayState during = trayIdle;
    OnNextModal([&](QWidget* w) {
        during = Frm->TrayState();
        QTest::keyClick(w, Qt::Key_Escape);
    });
    ShowAlarmMessage(*Frm, EntryAlarmMessage("0700", "Internet"));
    EXPECT_EQ(during, trayAlarm);
    EXPECT_EQ(Frm->TrayState(), trayConnected) << "falls back to connected while a connection is up";
    EXPECT_FALSE(Sound.Playing);
}

} // namespace

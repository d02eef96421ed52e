#include "ui/uHelpWindow.h"
#include "ui/ufAlarmMessageDlg.h"
#include "ui/ufConnection.h"

#include "RecordingAlarmHost.h"
#include "UiTestUtil.h"

#include <QScreen>
#include <QTextBrowser>
#include <QWindow>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(AlarmFrame, BaseAndMessageDialogHaveTheirGeometryAndButtons) {
    TRecordingAlarmHost host;
    T_frmStdAlarmDlg base(host);
    EXPECT_EQ(base.size(), QSize(592, 133));
    EXPECT_EQ(base.windowTitle(), "QmVardel");
    EXPECT_TRUE(base.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(base.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(base.aniSiren->geometry(), QRect(13, 6, 32, 32));
    EXPECT_EQ(base.labMessage->pos(), QPoint(61, 5));
    EXPECT_EQ(base.labMessage->width(), 335);
    EXPECT_EQ(base.labMessage->font().pixelSize(), 15);
    EXPECT_TRUE(base.labMessage->WordWrap());
    EXPECT_TRUE(base.labMessage->Transparent());
    EXPECT_EQ(base.Message(), "Tekst komunikatu");
    EXPECT_EQ(base.btnConnect->text(), "Ok");
    EXPECT_EQ(base.btnReject->text(), "Cancel");
    EXPECT_EQ(base.btnHelp->geometry(), QRect(414, 67, 137, 25));
    EXPECT_FALSE(base.aniSiren->IsRunning()) << "still until the show sequence starts it";

    TfrmAlarmMessageDlg dlg(host);
    EXPECT_EQ(dlg.btnConnect->geometry(), QRect(414, 6, 137, 25));
    EXPECT_EQ(dlg.btnHelp->geometry(), QRect(414, 35, 137, 25));
    EXPECT_EQ(dlg.btnHelp->text(), " Pomoc");
    EXPECT_EQ(dlg.btnReject->text(), "Anuluj");
    EXPECT_EQ(dlg.btnReject->y(), 92);
    EXPECT_TRUE(dlg.btnReject->isHidden());
}

TEST(AlarmFrame, ShowAlarmMessageRaisesAlarmThenResetsAndHelpKeepsItOpen) {
    TRecordingAlarmHost host;
    bool sirenRan = false;
    bool helpLeftOpen = false;
    QString shown;
    OnNextModal([&](QWidget* w) {
        auto* dlg = dynamic_cast<TfrmAlarmMessageDlg*>(w);
        ASSERT_NE(dlg, nullptr);
        sirenRan = dlg->aniSiren->IsRunning();
        shown = QString::fromStdString(dlg->labMessage->Caption());
        EXPECT_EQ(host.TrayStates, std::vector<int>{trayAlarm});
        // Tab never reaches the hidden button.
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dlg, Qt::Key_Tab);
            EXPECT_NE(QApplication::focusWidget(), dlg->btnReject);
        }
        QTest::mouseClick(dlg->btnHelp, Qt::LeftButton);
        helpLeftOpen = dlg->isVisible();
        QTest::mouseClick(dlg->btnConnect, Qt::LeftButton);
    });
    ShowAlarmMessage(host, "pierwsza\r\n<b>druga</b>");
    EXPECT_TRUE(sirenRan);
    EXPECT_TRUE(helpLeftOpen);
    EXPECT_EQ(host.Topics, std::vector<std::string>{"Cotozaprogram"});
    EXPECT_EQ(host.TrayStates, (std::vector<int>{trayAlarm, trayReset}));
    EXPECT_EQ(shown, "pierwsza\r\n<b>druga</b>");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(AlarmFrame, TrayIsResetAlsoWhenSettingUpTheDialogFails) {
    TRecordingAlarmHost host;
    EXPECT_THROW(ShowAlarmDialog<TfrmAlarmMessageDlg>(
                     host, [](TfrmAlarmMessageDlg&) { throw std::runtime_error("set-up failed"); }),
                 std::runtime_error);
    EXPECT_EQ(host.TrayStates, (std::vector<int>{trayAlarm, trayReset}));
}

TEST(AlarmFrame, TwoLineMessageMakesTheLabelGrowButNotTheDialog) {
    TRecordingAlarmHost host;
    TfrmAlarmMessageDlg dlg(host);
    dlg.SetMessage("jedna linia");
    const int oneLine = dlg.labMessage->height();
    dlg.SetMessage("pierwsza\r\ndruga");
    EXPECT_EQ(dlg.labMessage->Text().size(), 2u);
    EXPECT_GT(dlg.labMessage->height(), oneLine);
    EXPECT_EQ(dlg.height(), 133);
}

TEST(AlarmFrame, EscapeClosesTheMessageDialogAndTwoDialogsResetTwice) {
    TRecordingAlarmHost host;
    for (int i = 0; i < 2; ++i) {
        OnNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        ShowAlarmMessage(host, EntryAlarmMessage("0700", "Wpis " + QString::number(i)));
    }
    EXPECT_EQ(host.TrayStates, (std::vector<int>{trayAlarm, trayReset, trayAlarm, trayReset}));
}

} // namespace

namespace {

// A host whose help is the program's real help window.
class THelpHost : public TRecordingAlarmHost {
public:
    THelpWindow Help;
    void ShowHelpTopic(const std::string& topic) override {
        TRecordingAlarmHost::ShowHelpTopic(topic);
        Help.ShowTopic(QStringLiteral(QM_TEST_BIN_DIR "/QmVardel.html"), QString::fromStdString(topic));
    }
};

// Counts the mouse presses that reach a widget.
class TPressCounter : public QObject {
public:
    int Presses = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress)
            ++Presses;
        return false;
    }
};

} // namespace

TEST(AlarmFrame, HelpFromAWaitingPromptTakesInputAndLeavesThePromptInSight) {
    THelpHost host;
    TPressCounter counter;
    host.Help.Browser()->viewport()->installEventFilter(&counter);
    bool promptStillOpen = false;
    bool overlaps = true;
    OnNextModal([&](QWidget* w) {
        auto* prompt = dynamic_cast<TfrmConnection*>(w);
        ASSERT_NE(prompt, nullptr);
        QTest::mouseClick(prompt->btnHelp, Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return host.Help.isVisible() && host.Help.windowHandle()->isExposed(); }));
        overlaps = host.Help.frameGeometry().intersects(prompt->frameGeometry());
        // Through the window system, as a user's click arrives: a blocked window drops it.
        QWindow* helpWindow = host.Help.windowHandle();
        const QPoint inBrowser = host.Help.Browser()->viewport()->mapTo(&host.Help, QPoint(20, 20));
        QTest::mouseClick(helpWindow, Qt::LeftButton, {}, inBrowser);
        QApplication::processEvents();
        promptStillOpen = prompt->isVisible() && QApplication::activeModalWidget() == prompt;
        QTest::keyClick(prompt, Qt::Key_Escape);
    });
    EXPECT_EQ(ShowConnectionPrompt(host, "<b>0700</b>", false), 1);
    EXPECT_EQ(host.Topics, std::vector<std::string>{kConnectionHelpTopic});
    EXPECT_EQ(counter.Presses, 1) << "the help must not be blocked by the prompt";
    EXPECT_TRUE(promptStillOpen);
    EXPECT_FALSE(overlaps);
    EXPECT_TRUE(host.Help.isVisible()) << "the help outlives the prompt";
}

TEST(AlarmFrame, PromptsAreCentredStackedAndGrowWithALongNumber) {
    TRecordingAlarmHost host;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QRect first;
    QRect second;
    int longHeight = 0;
    bool numberBroken = false;
    OnNextModal([&](QWidget* w) {
        first = w->geometry();
        // A second request arrives while the first prompt waits.
        OnNextModal([&](QWidget* inner) {
            second = inner->geometry();
            QTest::keyClick(inner, Qt::Key_Escape);
        });
        const std::string number(300, '7');
        ShowConnectionPrompt(host, QString::fromStdString("numer <b>" + number + "</b>"), false);
        TfrmConnection tall(host);
        tall.SetMessage(QString::fromStdString("numer <b>" + number + "</b>"));
        longHeight = tall.height();
        numberBroken = tall.labMessage->geometry().bottom() < tall.height() &&
                       tall.labMessage->geometry().right() < T_frmStdAlarmDlg::kButtonLeft;
        QTest::keyClick(w, Qt::Key_Escape);
    });
    ShowConnectionPrompt(host, "<b>0700</b>", false);
    EXPECT_EQ(first.size(), QSize(592, 133));
    // Centred at the real size (rounding aside); the second one, taller, is centred one step
    // further down and right.
    const auto offCentre = [&](const QRect& r) {
        return r.center() - area.center();
    };
    EXPECT_LE(offCentre(first).manhattanLength(), 4);
    const QPoint step(T_frmStdAlarmDlg::kStackOffset, T_frmStdAlarmDlg::kStackOffset);
    EXPECT_LE((offCentre(second) - step).manhattanLength(), 4);
    EXPECT_GT(longHeight, 133);
    EXPECT_LE(longHeight, area.height());
    EXPECT_TRUE(numberBroken);
    EXPECT_EQ(T_frmStdAlarmDlg::OpenCount(), 0);
}

TEST(AlarmFrame, AlarmDialogsOfferNoMinimiseAndComeBackIfMinimised) {
    TRecordingAlarmHost host;
    bool restored = false;
    OnNextModal([&](QWidget* w) {
        EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
        w->setWindowState(Qt::WindowMinimized);
        restored = WaitFor([w] { return !(w->windowState() & Qt::WindowMinimized); });
        QTest::keyClick(w, Qt::Key_Escape);
    });
    ShowAlarmMessage(host, "komunikat");
    EXPECT_TRUE(restored);
}

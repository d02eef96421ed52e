#include "ui/ufAlarmMessageDlg.h"

#include "RecordingAlarmHost.h"
#include "UiTestUtil.h"

#include <gtest/gtest.h>

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

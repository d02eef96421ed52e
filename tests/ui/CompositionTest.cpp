// The subsystems as the main window wires them: hook messages reach the dial guard, the list's
// changes reach the guard, and the connection status takes its number from the guard.
#include "MainWindowFixture.h"

#include "core/uHookRecords.h"
#include "ui/ufConnection.h"
#include "ui/ufOptionsTab.h"

#include <QLabel>

namespace {

TEST_F(TMainWindowTest, DialGuardListAndConnectionMeetThroughTheWiring) {
    Start();
    int prompts = 0;
    // Answers the next prompt with the key or button given; counts the prompts.
    const auto answerNextPrompt = [&](bool connect) {
        OnNextModal([&prompts, connect](QWidget* w) {
            ++prompts;
            auto* prompt = dynamic_cast<TfrmConnection*>(w);
            ASSERT_NE(prompt, nullptr);
            if (connect)
                QTest::mouseClick(prompt->btnConnect, Qt::LeftButton);
            else
                QTest::keyClick(prompt, Qt::Key_Escape);
        });
    };
    const auto dial = [&](const std::string& number, std::uint32_t tag) {
        const auto record = qm::EncodeDialRequest({tag, number, "", ""});
        return Frm->HandleCopyData(qm::kHookDialRequest, record);
    };

    answerNextPrompt(true);
    EXPECT_EQ(dial("0300 12", 5), 0);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(dial("0300 12", 5), 0) << "the repeat of an allowed request is not asked again";
    EXPECT_EQ(prompts, 1);

    // The modem connects: the number shown is the last request's.
    Frm->Subsystems().Connection().LineCallState(TCallStateEvent::cseConnected);
    EXPECT_EQ(Find<QLabel>("lblTelNumber")->text(), "0300 12");
    EXPECT_EQ(Frm->TrayState(), trayConnected);
    Frm->Subsystems().Connection().LineCallState(TCallStateEvent::cseIdle);
    EXPECT_EQ(Frm->TrayState(), trayIdle);

    // Any change of the list ends the repeat shortcut.
    Frm->Subsystems().AllowedList()->Add("0700");
    answerNextPrompt(false);
    EXPECT_EQ(dial("0300 12", 5), 1);
    EXPECT_EQ(prompts, 2);

    // Program starts are let through until the program guard answers them.
    const auto start = qm::EncodeProgramStart({});
    EXPECT_EQ(Frm->HandleCopyData(qm::kHookProgramStart, start), 0);
}

TEST_F(TMainWindowTest, ServiceForgetsRememberedStartAnswersWhenMonitoringChanges) {
    Start();
    const int before = HookLibrary.Forgets;
    Frm->OptionsTab->chbExeMonitoring->toggle();
    Frm->OptionsTab->chbExeMonitoring->toggle();
    EXPECT_EQ(HookLibrary.Forgets, before + 2);
}

} // namespace

#include "ui/uDialGuardView.h"
#include "ui/ufConnection.h"
#include "ui/ufDialDialog.h"

#include "fakes/FakePorts.h"
#include "fakes/FakeRemoteAccess.h"

#include "RecordingAlarmHost.h"
#include "UiTestUtil.h"

#include <QLabel>
#include <gtest/gtest.h>

namespace {

struct TPromptFixture {
    TRecordingAlarmHost Host;
    TFakeFileSystem Fs;
    TAppIni Ini{"/opt/qm/QmVardel.ini", Fs};
    TAllowedList List;
    TFakeRemoteAccess Remote;
    bool Child = false;
    std::vector<std::string> Errors;
    TDialGuardView View{Host, [this] { return Child; },
                        [this](const std::string& e) {
                            Errors.push_back(e);
                        }};
    TDialGuard Guard{List, Remote, View};
    TPromptFixture() {
        List.OnChange = [this] {
            Ini.WriteList(kAllowedConnectionsSection, List.Items());
        };
    }
};

TfrmConnection* OpenPrompt() {
    return dynamic_cast<TfrmConnection*>(QApplication::activeModalWidget());
}

} // namespace

TEST(ConnectionPrompt, LayoutCaptionsAndFocus) {
    TRecordingAlarmHost host;
    TfrmConnection prompt(host);
    EXPECT_EQ(prompt.windowTitle(), "QmVardel");
    EXPECT_EQ(prompt.objectName(), "frmConnection");
    const std::vector<std::pair<QPushButton*, QString>> column = {{prompt.btnReject, "Odrzuć połączenie"},
                                                                  {prompt.btnConnect, "Połącz"},
                                                                  {prompt.btnAddNumber, " Dodaj do listy"},
                                                                  {prompt.btnHelp, " Pomoc"}};
    int lastTop = -1;
    for (const auto& [button, caption] : column) {
        EXPECT_EQ(button->text(), caption);
        EXPECT_EQ(button->x(), 414);
        EXPECT_GT(button->y(), lastTop) << caption.toStdString();
        lastTop = button->y();
    }
    EXPECT_TRUE(prompt.btnReject->isDefault());
    EXPECT_FALSE(prompt.btnConnect->isDefault());
    EXPECT_EQ(prompt.Answer(), 1);
    EXPECT_EQ(prompt.findChild<QPushButton*>("btnAddNumber"), prompt.btnAddNumber);
}

TEST(ConnectionPrompt, KeysAndButtonsGiveTheAnswers) {
    // Each row drives the open prompt and gives the Result of the request and the list after it.
    struct TCase {
        const char* Name;
        std::function<void(TfrmConnection*)> Drive;
        std::int32_t Result;
        std::size_t ListCount;
    } cases[] = {
        {"Enter rejects", [](TfrmConnection* p) { QTest::keyClick(p, Qt::Key_Return); }, 1, 0},
        {"Escape rejects", [](TfrmConnection* p) { QTest::keyClick(p, Qt::Key_Escape); }, 1, 0},
        {"closing rejects", [](TfrmConnection* p) { p->close(); }, 1, 0},
        {"Tab then space connects",
         [](TfrmConnection* p) {
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
             EXPECT_EQ(QApplication::focusWidget(), p->btnConnect);
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
         },
         0, 0},
        {"add to list", [](TfrmConnection* p) { QTest::mouseClick(p->btnAddNumber, Qt::LeftButton); }, 0, 1},
    };
    for (const TCase& c : cases) {
        TPromptFixture f;
        bool focused = false, sirenRan = false;
        QString message;
        OnNextModal([&](QWidget*) {
            TfrmConnection* prompt = OpenPrompt();
            ASSERT_NE(prompt, nullptr);
            ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() != nullptr; }));
            focused = QApplication::focusWidget() == prompt->btnReject;
            sirenRan = prompt->aniSiren->IsRunning();
            message = QString::fromStdString(prompt->labMessage->Caption());
            EXPECT_EQ(f.Host.TrayStates, std::vector<int>{trayAlarm});
            c.Drive(prompt);
        });
        EXPECT_EQ(f.Guard.HandleDialRequest({3, "+0 300 12", "", ""}), c.Result) << c.Name;
        EXPECT_TRUE(focused) << c.Name;
        EXPECT_TRUE(sirenRan) << c.Name;
        EXPECT_TRUE(message.contains("<b>0 300 12</b>")) << c.Name;
        EXPECT_EQ(f.Host.TrayStates, (std::vector<int>{trayAlarm, trayReset})) << c.Name;
        EXPECT_EQ(f.List.Count(), c.ListCount) << c.Name;
        if (c.ListCount) {
            std::vector<std::string> stored;
            f.Ini.ReadList(kAllowedConnectionsSection, stored);
            EXPECT_EQ(stored, std::vector<std::string>{"0 300 12"});
        }
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST(ConnectionPrompt, ChildModeOffersOnlyRejectionAndHelp) {
    TPromptFixture f;
    f.Child = true;
    bool connectEnabled = true, addEnabled = true, openAfterHelp = false;
    OnNextModal([&](QWidget*) {
        TfrmConnection* prompt = OpenPrompt();
        ASSERT_NE(prompt, nullptr);
        connectEnabled = prompt->btnConnect->isEnabled();
        addEnabled = prompt->btnAddNumber->isEnabled();
        QTest::mouseClick(prompt->btnConnect, Qt::LeftButton); // disabled: nothing happens
        QTest::mouseClick(prompt->btnHelp, Qt::LeftButton);
        openAfterHelp = prompt->isVisible();
        QTest::mouseClick(prompt->btnReject, Qt::LeftButton);
    });
    EXPECT_EQ(f.Guard.HandleDialRequest({1, "0300", "", ""}), 1);
    EXPECT_FALSE(connectEnabled);
    EXPECT_FALSE(addEnabled);
    EXPECT_TRUE(openAfterHelp);
    EXPECT_EQ(f.Host.Topics, std::vector<std::string>{"mechanizm_blokowania_polaczen"});
}

TEST(ConnectionPrompt, SecondRequestInsideTheOpenPromptGetsItsOwnPromptAndIsRecordedFirst) {
    TPromptFixture f;
    std::int32_t inner = -1;
    std::string lastAfterInner;
    OnNextModal([&](QWidget*) {
        TfrmConnection* outer = OpenPrompt();
        ASSERT_NE(outer, nullptr);
        OnNextModal([&](QWidget*) {
            TfrmConnection* second = OpenPrompt();
            ASSERT_NE(second, nullptr);
            EXPECT_NE(second, outer);
            QTest::mouseClick(second->btnConnect, Qt::LeftButton);
        });
        inner = f.Guard.HandleDialRequest({2, "0500", "", ""});
        lastAfterInner = f.Guard.LastNumber();
        QTest::mouseClick(outer->btnReject, Qt::LeftButton);
    });
    EXPECT_EQ(f.Guard.HandleDialRequest({1, "0400", "", ""}), 1);
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(lastAfterInner, "0500");
    EXPECT_EQ(f.Guard.LastNumber(), "0400");
    EXPECT_EQ(f.Host.TrayStates, (std::vector<int>{trayAlarm, trayAlarm, trayReset, trayReset}));
}

TEST(DialDialog, StartsTheEntryAndReportsAFailedStart) {
    TFakeRemoteAccess remote;
    remote.Numbers["dom"] = "0202122";
    std::string number;
    OnNextModal([&](QWidget* w) {
        auto* dialog = dynamic_cast<TfrmDialDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        number = dialog->lblNumber->text().toStdString();
        QTest::mouseClick(dialog->btnDial, Qt::LeftButton);
    });
    ShowDialDialog(remote, "dom", nullptr);
    EXPECT_EQ(number, "Numer: 0202122");
    EXPECT_EQ(remote.Dialed, std::vector<std::string>{"dom"});

    // An entry that cannot be started keeps the dialog open with the reason.
    OnNextModal([&](QWidget* w) {
        auto* dialog = dynamic_cast<TfrmDialDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(dialog->btnDial, Qt::LeftButton);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_FALSE(dialog->lblStatus->text().isEmpty());
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    struct TFailingRemote : TFakeRemoteAccess {
        bool Dial(const std::string&) override { return false; }
    } failing;
    ShowDialDialog(failing, "dom", nullptr);
}

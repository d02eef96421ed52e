// The phone-book entry check and the first-run picker through the real window, its alarm frame and
// the real picker dialog, offscreen, over a fake phone book.
#include "MainWindowFixture.h"

#include "components/QmLabel.h"
#include "components/bsSkinData.h"
#include "ui/_ufStdAlarmDlg.h"
#include "ui/uHelpWindow.h"
#include "ui/ufEntrySettings.h"

#include <QComboBox>
#include <QListWidget>

#include <memory>

namespace {

// Hands every modal dialog that shows to act, in order, until the object goes.
class TModalScript {
public:
    explicit TModalScript(std::function<void(QWidget*)> act) : FAct(std::move(act)) {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal->property("qmScripted").toBool())
                return;
            modal->setProperty("qmScripted", true);
            ++Seen;
            FAct(modal);
        });
        FTimer.start();
    }
    int Seen = 0;

private:
    std::function<void(QWidget*)> FAct;
    QTimer FTimer;
};

std::vector<std::pair<std::string, bool>> Lines(const TfrmEntrySettings& dialog) {
    std::vector<std::pair<std::string, bool>> lines;
    for (int i = 0; i < dialog.chbEntries->count(); ++i)
        lines.emplace_back(dialog.chbEntries->item(i)->text().toStdString(),
                           dialog.chbEntries->item(i)->checkState() == Qt::Checked);
    return lines;
}

// The modal window as the picker; any other is a failure, and is closed.
TfrmEntrySettings* ThePicker(QWidget* w) {
    auto* dialog = dynamic_cast<TfrmEntrySettings*>(w);
    if (!dialog) {
        ADD_FAILURE() << "not the picker";
        w->close();
    }
    return dialog;
}

} // namespace

TEST_F(TMainWindowTest, LaterRunWarnsOnceNamingTheEntryWithTheForbiddenNumber) {
    Remote.Numbers = {{"Work", "020 21 22"}, {"Fun", "0700 12 34"}};
    std::vector<QString> messages;
    TModalScript script([&](QWidget* w) {
        if (auto* alarm = dynamic_cast<T_frmStdAlarmDlg*>(w))
            messages.push_back(alarm->Message());
        QTest::keyClick(w, Qt::Key_Escape);
    });
    Start("[main]\nfirst_run_flg=0\n[allowed_connections]\n0=020 21 22\n");
    EXPECT_EQ(messages, std::vector<QString>{QStringLiteral(
                            "<b>QmVardel</b> wykrył niedozwolony numer: <b>0700 12 34</b> w ustawieniach "
                            "połączenia <b>Fun</b>. Dodaj ten numer do listy numerów dozwolonych lub zmień "
                            "ustawienia.")});
    EXPECT_EQ(script.Seen, 1);
    EXPECT_EQ(Frm->TrayState(), trayIdle);
}

TEST_F(TMainWindowTest, FirstRunPickerTicksAllowedLinesAndOkMakesTheListExactlyThem) {
    Remote.Numbers = {{"Work", "020 21 22"}, {"Fun", "0700 12 34"}};
    std::vector<std::pair<std::string, bool>> lines;
    QString caption, sheet;
    std::string text;
    TModalScript script([&](QWidget* w) {
        TfrmEntrySettings* dialog = ThePicker(w);
        if (!dialog)
            return;
        caption = dialog->windowTitle();
        text = dialog->labInfo->Caption();
        sheet = dialog->styleSheet();
        lines = Lines(*dialog);
        QTest::mouseClick(dialog->btnClose, Qt::LeftButton);
    });
    Start("[main]\nfirst_run_flg=1\n[allowed_connections]\n0=0999\n");
    EXPECT_EQ(caption, "Ustawienia połączeń modemowych");
    EXPECT_EQ(text, "Zaznacz połączenia, których numery zostaną dodane do <b>Listy dozwolonych numerów</b>. "
                    "QmVardel będzie zezwalał na połączenia z tymi numerami. ");
    EXPECT_TRUE(sheet.contains(Frm->bsSkinData->StyleSheet)) << "drawn in the window's skins";
    // The fake phone book lists by name: Fun before Work.
    EXPECT_EQ(lines, (std::vector<std::pair<std::string, bool>>{{"Fun (numer: 0700 12 34)", false},
                                                                {"Work (numer: 020 21 22)", true}}));
    EXPECT_EQ(Frm->AllowedList()->Items(), std::vector<std::string>{"020 21 22"});
    EXPECT_NE(IniText().find("[allowed_connections]\n0=020 21 22\n"), std::string::npos);
    EXPECT_EQ(IniText().find("0999"), std::string::npos);
    EXPECT_EQ(Box.Calls.size(), 0u);
}

TEST_F(TMainWindowTest, PickerHelpKeepsItOpenAndEscapeEmptiesTheList) {
    Remote.Numbers = {{"Work", "020 21 22"}};
    bool openAfterHelp = false;
    std::string topic;
    TModalScript script([&](QWidget* w) {
        TfrmEntrySettings* dialog = ThePicker(w);
        if (!dialog)
            return;
        Frm->HelpWindow()->close();
        QTest::mouseClick(dialog->btnHelp, Qt::LeftButton);
        openAfterHelp = dialog->isVisible();
        topic = Frm->HelpWindow()->isVisible() ? Frm->HelpWindow()->CurrentTopic().toStdString() : "";
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    Start("[main]\nfirst_run_flg=1\n[allowed_connections]\n0=0999\n");
    EXPECT_TRUE(openAfterHelp);
    EXPECT_EQ(topic, "Cotozaprogram");
    EXPECT_TRUE(Frm->AllowedList()->Items().empty());
    EXPECT_EQ(IniText().find("0999"), std::string::npos) << "the empty list is stored";
}

TEST_F(TMainWindowTest, MissingHookFileLeavesTheEntryListFilledAndChecksNoEntry) {
    Remote.Numbers = {{"Fun", "0700 12 34"}};
    TModalScript script([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    HookLibraryInPlace = false;
    Start();
    ASSERT_EQ(Box.Calls.size(), 1u);
    EXPECT_EQ(Box.Calls[0].Kind, mtError);
    EXPECT_EQ(Find<QComboBox>("cmbEntries")->currentText(), "Fun");
    EXPECT_EQ(Frm->PageControl->currentIndex(), 0);
    EXPECT_EQ(script.Seen, 0) << "no entry check";
    EXPECT_TRUE(Remote.NumberQueries.empty());
}

// The dialer prompt and the removal report as the user meets them, offscreen.
#include "platform/linux/uLinuxPlatform.h"
#include "platform/linux/uLinuxQuarantineFiles.h"
#include "platform/uNoProcessControl.h"
#include "ui/uProgramGuardView.h"
#include "ui/uRemovalView.h"
#include "ui/ufDialerNotifyDlg.h"
#include "ui/ufRemoveDialers.h"

#include "fakes/FakePorts.h"
#include "support/TempDir.h"

#include "RecordingAlarmHost.h"
#include "UiTestUtil.h"

#include <QScrollBar>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

TfrmDialerNotifyDlg* OpenPrompt() {
    return dynamic_cast<TfrmDialerNotifyDlg*>(QApplication::activeModalWidget());
}

struct TRecordingBox : IMessageBoxPort {
    std::vector<std::pair<std::string, int>> Shown;
    int ShowMessageBox(const std::string& text, int kind, unsigned) override {
        Shown.emplace_back(text, kind);
        return mrOk;
    }
    void SetSkins(TbsSkinData*, TbsSkinData*) override {}
};

} // namespace

TEST(DialerPrompt, LayoutCaptionsFocusAndHelp) {
    TRecordingAlarmHost host;
    for (const bool running : {false, true}) {
        QString title, allowCaption, message;
        int width = 0;
        bool removeDefault = false, removeFocused = false, sirenRan = false, openAfterHelp = false;
        std::vector<std::pair<QString, int>> column;
        OnNextModal([&](QWidget*) {
            TfrmDialerNotifyDlg* p = OpenPrompt();
            ASSERT_NE(p, nullptr);
            ASSERT_TRUE(WaitFor([] { return QApplication::focusWidget() != nullptr; }));
            title = p->windowTitle();
            width = p->width();
            allowCaption = p->btnAllowDialer->text();
            message = QString::fromStdString(p->labMessage->Caption());
            removeDefault = p->btnRemoveDialer->isDefault();
            removeFocused = QApplication::focusWidget() == p->btnRemoveDialer;
            sirenRan = p->aniSiren->IsRunning();
            for (QPushButton* b : {p->btnRemoveDialer, p->btnAllowDialer, p->btnHelp})
                if (b->isVisible() && b->x() == 414)
                    column.emplace_back(b->text(), b->y());
            QTest::mouseClick(p->btnHelp, Qt::LeftButton);
            openAfterHelp = p->isVisible();
            QTest::mouseClick(p->btnRemoveDialer, Qt::LeftButton);
        });
        EXPECT_EQ(ShowDialerPrompt(host, "Szybki <Net>", running, false), dpRemove);
        EXPECT_EQ(title, "Qm Vardel");
        EXPECT_EQ(width, 591);
        EXPECT_EQ(allowCaption, running ? "Pozostaw Dialer" : "Uruchom Dialer");
        EXPECT_EQ(
            message.replace("\r\n", "\n").toStdString(),
            running ? "<b>QmVardel<plain> wykrył działającego dialera o nazwie: <b>Szybki <Net></b>.\n"
                      "Możesz unieszkodliwić go lub pozostawić uruchomionego."
                    : "<b>QmVardel<plain> wykrył próbę uruchomienia dialera o nazwie: <b>Szybki <Net></b>.\n"
                      "Możesz zezwolić na uruchomienie dialera lub unieszkodliwić go.");
        EXPECT_TRUE(removeDefault);
        EXPECT_TRUE(removeFocused);
        EXPECT_TRUE(sirenRan);
        EXPECT_TRUE(openAfterHelp);
        ASSERT_EQ(column.size(), 3u);
        EXPECT_EQ(column[0].first, "  Usuń Dialer");
        EXPECT_LT(column[0].second, column[1].second);
        EXPECT_LT(column[1].second, column[2].second);
        EXPECT_EQ(column[2].first, " Pomoc");
    }
    EXPECT_EQ(host.Topics,
              (std::vector<std::string>{"mechanizm_sprawdzania_uruchami", "mechanizm_sprawdzania_uruchami"}));
}

TEST(DialerPrompt, AnswersThroughTheViewWithTheTrayAroundIt) {
    struct TCase {
        const char* Name;
        bool Child;
        std::function<void(TfrmDialerNotifyDlg*)> Drive;
        int Answer;
    } cases[] = {
        {"allow", false, [](TfrmDialerNotifyDlg* p) { QTest::mouseClick(p->btnAllowDialer, Qt::LeftButton); },
         dpAllow},
        {"Enter removes", false, [](TfrmDialerNotifyDlg* p) { QTest::keyClick(p, Qt::Key_Return); },
         dpRemove},
        {"Escape is no permission", false, [](TfrmDialerNotifyDlg* p) { QTest::keyClick(p, Qt::Key_Escape); },
         0},
        {"child mode: allow is disabled", true,
         [](TfrmDialerNotifyDlg* p) {
             EXPECT_FALSE(p->btnAllowDialer->isEnabled());
             QTest::mouseClick(p->btnAllowDialer, Qt::LeftButton); // nothing happens
             QTest::mouseClick(p->btnRemoveDialer, Qt::LeftButton);
         },
         dpRemove},
    };
    for (const TCase& c : cases) {
        TRecordingAlarmHost host;
        TRecordingBox box;
        TProgramGuardView view(host, box, {});
        OnNextModal([&](QWidget*) {
            TfrmDialerNotifyDlg* p = OpenPrompt();
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(host.TrayStates, std::vector<int>{trayAlarm});
            c.Drive(p);
        });
        view.SetAlarmTray();
        EXPECT_EQ(view.ShowDialerPrompt("d.exe", false, c.Child), c.Answer) << c.Name;
        view.ResetTray();
        EXPECT_EQ(host.TrayStates, (std::vector<int>{trayAlarm, trayReset})) << c.Name;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST(RemovalReport, ShowsTheReportAndEveryPathRestoresCursorAndTray) {
    TTempDir dir;
    const std::string dialer = dir.Write("a/d.exe", "dialer");
    TLinuxQuarantineFiles files;
    TLinuxFileSystem fileSystem;
    TFakeClock clock;
    TNoProcessControl processes;
    // One entry that starts the dialers; its backup can be made or not.
    struct TEntries : IAutoStartEntries {
        bool BackupFails = false;
        std::string Command;
        std::vector<TAutoStartEntry> List() const override {
            TAutoStartEntry e;
            e.Location = "/etc/xdg/autostart";
            e.Name = "x.desktop";
            e.Commands = {Command};
            return {e};
        }
        bool CanRemove(const TAutoStartEntry&) const override { return true; }
        TMoveResult Backup(const TAutoStartEntry&, const std::string&, const std::string&) override {
            TMoveResult r;
            r.Status = BackupFails ? msFailed : msMoved;
            r.Error = "Brak miejsca";
            return r;
        }
        bool Remove(const TAutoStartEntry&) override { return true; }
        TMoveResult Restore(const TAutoStartEntry&, const std::string&) override { return {}; }
    } entries;
    TDialerRemoval removal{{.Processes = processes,
                            .Quarantine = files,
                            .AutoStartEntries = entries,
                            .FileSystem = fileSystem,
                            .Clock = clock,
                            .QuarantineDir = [&] {
                                return dir / "back/";
                            }}};
    entries.Command = dialer + " " + dir / "b/e.exe";
    TRecordingAlarmHost host;
    int cleared = 0;
    TRemovalView view(host, [&] { ++cleared; });

    QString text;
    bool bold = false, bars = false;
    QSize size;
    QString closeCaption;
    OnNextModal([&](QWidget* w) {
        auto* report = dynamic_cast<TfrmRemoveDialers*>(w);
        ASSERT_NE(report, nullptr);
        text = report->Memo->toPlainText();
        bold = report->Memo->font().bold();
        bars = report->Memo->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn &&
               report->Memo->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn;
        size = report->size();
        closeCaption = report->btnClose->text();
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
        QTest::mouseClick(report->btnClose, Qt::LeftButton);
    });
    removal.RemoveFoundDialers({dialer, dir / "gone.exe"}, view);
    EXPECT_EQ(size, QSize(515, 257));
    EXPECT_TRUE(bold);
    EXPECT_TRUE(bars);
    EXPECT_EQ(closeCaption, " Zamknij");
    EXPECT_TRUE(
        text.startsWith("Raport usuwania dialerów\n==================================\n \nWykryto dialer: " +
                        QString::fromStdString(dialer)));
    EXPECT_EQ(text.count(QString(49, '-')), 2);
    EXPECT_EQ(text.count("Dialer " + QString::fromStdString(dialer) + " został usunięty z rejestru."), 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(host.TrayStates, std::vector<int>{trayReset});
    EXPECT_EQ(cleared, 1);

    // A backup that cannot be written ends the run: no report, the list kept, cursor and tray back.
    entries.BackupFails = true;
    const std::string second = dir.Write("b/e.exe", "dialer");
    EXPECT_THROW(removal.RemoveFoundDialers({second}, view), EQmError);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(host.TrayStates, (std::vector<int>{trayReset, trayReset}));
    EXPECT_EQ(cleared, 1);
}

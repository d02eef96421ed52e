// Draws the main window's tabs (and an alarm dialog and a message box) into PNG files, for the
// README and for looking at the skins: qm_screenshots OUTDIR [SKIN]. The program runs from a
// temporary folder holding copies of its resources, so no settings or autostart entry is touched.
#include "core/libQmVardel.h"
#include "platform/linux/uLinuxPlatform.h"
#include "ui/uQtTimer.h"
#include "ui/uSkinForm.h"
#include "ui/uTrayIcon.h"
#include "ui/ufAlarmMessageDlg.h"
#include "ui/ufMain.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufQueryDlg.h"

#include "fakes/FakeHookEndpoint.h"
#include "fakes/FakeHookLibrary.h"
#include "fakes/FakePorts.h"
#include "fakes/FakeRemoteAccess.h"
#include "fakes/FakeShellPorts.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <filesystem>

namespace {

class TQuietMessageBox : public IMessageBoxPort {
public:
    int ShowMessageBox(const std::string&, int, unsigned) override { return mrOk; }
    void SetSkins(TbsSkinData*, TbsSkinData*) override {}
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: qm_screenshots OUTDIR [SKIN 0-3]\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const int skin = argc > 2 ? std::atoi(argv[2]) : 0;
    QDir().mkpath(outDir);

    QTemporaryDir dir;
    namespace fs = std::filesystem;
    const fs::path from = fs::path(QM_BIN_DIR);
    const fs::path to = dir.path().toStdString();
    fs::copy(from / "Skins", to / "Skins", fs::copy_options::recursive);
    fs::copy_file(from / "QmVardel.html", to / "QmVardel.html");
    {
        FILE* ini = std::fopen((to / "QmVardel.ini").c_str(), "w");
        std::fprintf(ini,
                     "[main]\nfirst_run_flg=0\nskin=%d\n[allowed_connections]\n0=0202122\n1=0 22 650 00 00\n",
                     skin);
        std::fclose(ini);
    }
    TFakeProgramImage image;
    image.Path = (to / "QmVardel").string();
    TLinuxFileSystem files;
    TFakeMutexFactory mutexes;
    TVardelApp vardel({.ProgramImage = image, .FileSystem = files, .MutexFactory = mutexes});
    TQtTimerFactory timers;
    TFakeAutoStart autoStart;
    TFakeSoundPlayer sound;
    TQuietMessageBox box;
    TFakeRemoteAccess remote;
    TFakeHookLibrary hookLibrary;
    TFakeHookEndpoint hookEndpoint;
    TfrmMain frm({.App = vardel,
                  .Timers = timers,
                  .AutoStart = autoStart,
                  .Sound = sound,
                  .DialGuard = {.FileSystem = files,
                                .RemoteAccess = remote,
                                .HookLibrary = hookLibrary,
                                .HookEndpoint = hookEndpoint,
                                .HookSocketPath = (to / "hook.sock").string()},
                  .ExecutablePath = image.Path,
                  .MessageBox = &box,
                  .TrayAvailable = false});
    frm.FormCreate();
    frm.show();
    const char* names[] = {"status", "scan", "statistics", "update", "options"};
    const QString suffix = argc > 2 ? QStringLiteral("-skin%1").arg(skin) : QString();
    for (int i = 0; i < 5; ++i) {
        frm.PageControl->setCurrentIndex(i);
        QApplication::processEvents();
        frm.grab().save(QDir(outDir).filePath(QStringLiteral("tab-%1%2.png").arg(names[i], suffix)));
    }
    TfrmAlarmMessageDlg alarm(frm);
    alarm.SetMessage(EntryAlarmMessage("0700 123 456", "Internet Plus"));
    alarm.show();
    QApplication::processEvents();
    alarm.grab().save(QDir(outDir).filePath(QStringLiteral("alarm%1.png").arg(suffix)));
    TfrmQueryDlg query;
    query.setWindowTitle("Dozwolony numer");
    query.labMsg->setText("Podaj dozwolony numer");
    query.tbInput->setText("0202122");
    (new TbsBusinessSkinForm(&query))->Apply(frm.bsSkinData, frm.DialogSkinData);
    query.show();
    QApplication::processEvents();
    query.grab().save(QDir(outDir).filePath(QStringLiteral("query%1.png").arg(suffix)));
    frm.TrayIcon()->mnuTrayPopup->popup(QPoint(10, 10));
    QApplication::processEvents();
    frm.TrayIcon()->mnuTrayPopup->grab().save(
        QDir(outDir).filePath(QStringLiteral("traymenu%1.png").arg(suffix)));
    return 0;
}

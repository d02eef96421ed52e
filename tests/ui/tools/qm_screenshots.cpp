// Draws the program's windows into PNG files for the README: qm_screenshots OUTDIR [SKIN]. The
// window is built as the program's entry point builds it, over the real platform services, in a
// temporary program folder with a settings file of its own, and driven the way a user drives it:
// a scan of a small tree holding two copies of the shipped test dialer, their removal (the
// report), an update from a server on 127.0.0.1 (the memo), statistics with figures. Only the hook
// library, the autostart switch and the fixed disks are stand-ins, so nothing outside the
// temporary folder is touched and no hook service is started.
#include "core/libQmVardel.h"
#include "platform/uPlatformFactory.h"
#include "ui/uMainServices.h"
#include "ui/uQtSoundPlayer.h"
#include "ui/uQtTimer.h"
#include "ui/uSkinForm.h"
#include "ui/uTrayIcon.h"
#include "ui/ufAlarmMessageDlg.h"
#include "ui/ufDialerNotifyDlg.h"
#include "ui/ufEntrySettings.h"
#include "ui/ufMain.h"
#include "ui/ufQueryDlg.h"
#include "ui/ufRemoveDialers.h"
#include "ui/ufScanTab.h"
#include "ui/ufUpdateTab.h"

#include "fakes/FakeHookLibrary.h"
#include "fakes/FakePorts.h"
#include "fakes/FakeRemoteAccess.h"
#include "fakes/FakeScanPorts.h"
#include "fakes/FakeShellPorts.h"
#include "support/TestHttpServer.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Runs the event loop until done() holds (or ten seconds pass).
bool PumpUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 10000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class TShots {
public:
    TShots(QString outDir, QString suffix) : FOut(std::move(outDir)), FSuffix(std::move(suffix)) {}
    void Save(QWidget& widget, const char* name) const {
        QApplication::processEvents();
        const QString file =
            QDir(FOut).filePath(QStringLiteral("%1%2.png").arg(QLatin1String(name), FSuffix));
        if (!widget.grab().save(file))
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    }

private:
    QString FOut;
    QString FSuffix;
};

// Every modal window the program opens while drawing goes through here: the removal report is
// drawn, and each is closed so that the program goes on.
class TModalWatch {
public:
    explicit TModalWatch(const TShots& shots) : FShots(shots) {
        FTimer.setInterval(30);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Look(); });
        FTimer.start();
    }

private:
    void Look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto* report = dynamic_cast<TfrmRemoveDialers*>(modal))
            FShots.Save(*report, "removal-report");
        modal->close();
    }
    const TShots& FShots;
    QTimer FTimer;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "usage: qm_screenshots OUTDIR [SKIN 0-3]\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const int skin = argc > 2 ? std::atoi(argv[2]) : 0;
    QDir().mkpath(outDir);
    const TShots shots(outDir, argc > 2 ? QStringLiteral("-skin%1").arg(skin) : QString());

    // A program folder of its own; the user folders and the runtime folder in it too.
    QTemporaryDir dir(QStringLiteral("/tmp/qm-XXXXXX"));
    const fs::path from = fs::path(QM_BIN_DIR);
    const fs::path to = dir.path().toStdString();
    fs::copy(from / "Skins", to / "Skins", fs::copy_options::recursive);
    for (const char* name : {"QmVardel.html", "alert.wav", "Sygn.ini"})
        fs::copy_file(from / name, to / name);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const fs::path folder = to / "home" / name;
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms::owner_all);
        qputenv(name, QByteArray::fromStdString(folder.string()));
    }

    // Two copies of the shipped test dialer in a small tree, which stands for the fixed disks.
    std::ifstream dialerFile(from / "qmvardel-test.sh", std::ios::binary);
    const std::string dialer((std::istreambuf_iterator<char>(dialerFile)), std::istreambuf_iterator<char>());
    const fs::path tree = to / "disk";
    Write(tree / "home/ala/.wine/drive_c/darmowe-mp3.exe", dialer);
    Write(tree / "home/ala/Pobrane/wygaszacz.scr", dialer);
    Write(tree / "home/ala/Dokumenty/list.txt", "Droga Babciu,\n");

    // An update server: a newer database, two more lines.
    std::ifstream databaseFile(from / "Sygn.ini", std::ios::binary);
    std::string database((std::istreambuf_iterator<char>(databaseFile)), std::istreambuf_iterator<char>());
    database.replace(0, database.find('\n'), "[1.1]");
    database += "4096-2165636AB36E706E652E2E652E2E2E2E0B\n4096-2165636AB36E706E652E2E652E2E2E2E0C\n";
    TTestHttpServer server([&database](const TTestRequest& r) {
        if (r.Method == "POST")
            return TTestReply{200, "msg Dostępna jest nowa baza sygnatur\nfile Sygn.ini\n", "text/plain", {}};
        if (r.Target == "/vardel/Sygn.ini")
            return TTestReply{200, database, "application/octet-stream", {}};
        return TTestReply{404, "", "text/plain", {}};
    });

    {
        std::ofstream ini(to / "QmVardel.ini", std::ios::binary);
        // The figures were written today, so that no period starts afresh.
        const qint64 today = QDate(1899, 12, 30).daysTo(QDate::currentDate());
        ini << "[main]\nfirst_run_flg=0\nskin=" << skin << "\nlast_stat_write=" << today
            << "\nupdate_url=" << server.Url("/vardel/update.cgi") << "\n"
            << "[allowed_connections]\n0=0202122\n1=0 22 650 00 00\n"
            << "[day_statistics]\ntime_0202122=3725\nconcount_0202122=2\n"
            << "[week_statistics]\ntime_0202122=14410\nconcount_0202122=7\n"
            << "[month_statistics]\ntime_0202122=52230\nconcount_0202122=23\ntime_0 22 650 00 00=610\n"
            << "concount_0 22 650 00 00=1\n"
            << "[global_statistics]\ntime_0202122=388815\nconcount_0202122=164\ntime_0 22 650 00 00=4250\n"
            << "concount_0 22 650 00 00=6\n";
    }

    TPlatformServices services = CreatePlatformServices();
    auto image = std::make_unique<TFakeProgramImage>();
    image->Path = (to / "QmVardel").string();
    services.ProgramImage = std::move(image);
    services.HookLibrary = std::make_unique<TFakeHookLibrary>();
    services.AutoStart = std::make_unique<TFakeAutoStart>();
    auto drives = std::make_unique<TFakeFixedDrives>();
    drives->Drives = {tree.string() + "/"};
    services.FixedDrives = std::move(drives);
    Write(to / "vardeld", "");
    Write(to / "libVardelHk.so", "");

    TVardelApp vardel(TQmAppPorts{.ProgramImage = *services.ProgramImage,
                                  .FileSystem = *services.FileSystem,
                                  .MutexFactory = *services.MutexFactory,
                                  .UserFolders = services.UserFolders});
    TQtTimerFactory timers;
    TQtSoundPlayer sound;
    const TScanServices scan = ScanServicesOf(services);
    TfrmMain frm({.App = vardel,
                  .Timers = timers,
                  .AutoStart = *services.AutoStart,
                  .Sound = sound,
                  .DialGuard = DialGuardServicesOf(services),
                  .ExecutablePath = services.ProgramImage->ExecutablePath(),
                  .TrayAvailable = false,
                  .Scan = &scan,
                  .Detection = DetectionServicesOf(services),
                  .Update = UpdateServicesOf(services),
                  .Clock = services.Clock.get()});
    TModalWatch modals(shots);
    frm.FormCreate();
    frm.show();
    PumpUntil([&frm] { return frm.isVisible(); });

    const char* names[] = {"status", "scan", "statistics", "update", "options"};
    for (int i = 0; i < 5; ++i) {
        frm.PageControl->setCurrentIndex(i);
        shots.Save(frm, (std::string("tab-") + names[i]).c_str());
    }

    // The scan finds both copies; removing them shows the report.
    frm.PageControl->setCurrentIndex(1);
    frm.ScanTab->btnStartSkan->click();
    if (!PumpUntil([&frm] { return frm.ScanTab->btnRemoveDialers->isVisible(); }))
        std::fprintf(stderr, "the scan found nothing\n");
    shots.Save(frm, "scan-results");
    frm.ScanTab->btnRemoveDialers->click();
    PumpUntil([] { return QApplication::activeModalWidget() == nullptr; });

    // A database update against the server above.
    frm.PageControl->setCurrentIndex(3);
    frm.UpdateTab->btnUpdate->click();
    PumpUntil([&frm] { return frm.UpdateTab->btnUpdate->text() == QStringLiteral(" Aktualizuj"); });
    shots.Save(frm, "update-memo");

    TfrmAlarmMessageDlg alarm(frm);
    alarm.SetMessage(EntryAlarmMessage("0700 123 456", "Internet Plus"));
    alarm.show();
    shots.Save(alarm, "alarm");

    TfrmDialerNotifyDlg prompt(frm);
    prompt.DialerName = QStringLiteral("/home/ala/.wine/drive_c/darmowe-mp3.exe");
    prompt.show();
    shots.Save(prompt, "dialer-prompt");
    prompt.hide();

    TFakeRemoteAccess phoneBook;
    phoneBook.Numbers = {{"Praca", "020 21 22"}, {"Rozrywka", "0700 12 34"}, {"Dom", "0 22 650 00 00"}};
    TfrmEntrySettings picker(phoneBook, [] {});
    picker.ApplySkins(frm.ControlSkin(), frm.DialogSkin());
    picker.FillEntries();
    picker.show();
    shots.Save(picker, "picker");
    picker.hide();

    TfrmQueryDlg query;
    query.setWindowTitle("Dozwolony numer");
    query.labMsg->setText("Podaj dozwolony numer");
    query.tbInput->setText("0202122");
    (new TbsBusinessSkinForm(&query))->Apply(frm.bsSkinData, frm.DialogSkinData);
    query.show();
    shots.Save(query, "query");
    query.hide();

    frm.TrayIcon()->mnuTrayPopup->popup(QPoint(10, 10));
    shots.Save(*frm.TrayIcon()->mnuTrayPopup, "traymenu");
    frm.TrayIcon()->mnuTrayPopup->hide();
    return 0;
}

// The database update end to end: the real program on Xvfb asks lighttpd on 127.0.0.1, which runs
// the update server from tools/update-server over a database signed and published with
// qmvardel-sig as a signature author would. The button is clicked, the memo is read back through
// the X selection (select all, as a user copying it would) and the database label is compared as
// pixels. Skips when Xvfb, xdotool, xclip or lighttpd is missing.
#include "ProgramOnXvfb.h"

#include "support/TestLighttpd.h"

#include <QDateTime>
#include <QImage>
#include <QRandomGenerator>

namespace {

// The update tab's controls have fixed places in the window (points relative to its top left).
constexpr int kTabX = 309, kTabY = 16;       // its tab
constexpr int kButtonX = 78, kButtonY = 125; // btnUpdate
constexpr int kMemoX = 225, kMemoY = 187;    // memUpdate
const QRect kButtonRect(13, 113, 130, 25);
const QRect kLabelRect(8, 232, 236, 68); // labDataVersionInfo, grown to three lines
// A whole run over loopback, from the click to its end steps, on a loaded machine.
constexpr int kRunMs = 30000;

class UpdateE2E : public TProgramOnXvfb {
protected:
    void SetUp() override {
        if (!TTestLighttpd::Installed() || QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            GTEST_SKIP() << "lighttpd or xclip is not installed (scripts/setup.sh installs them)";
        TProgramOnXvfb::SetUp();
    }

    void BeforeStart() override {
        Server = std::make_unique<TTestLighttpd>(FTemp.path().toStdString());
        ASSERT_TRUE(Server->Ready())
            << ReadText(QString::fromStdString(Server->ErrorLogPath())).toStdString();
        Publish = QString::fromStdString(Server->PublishDir());
        ASSERT_EQ(Sig({"keygen", FTemp.filePath(QStringLiteral("signing.pem")), FApp + "/Sygn.pub"}), 0);

        // A dialer no database of 1.0 knows: a copy of sleep with a tail of random length and bytes,
        // so no other program on the machine shares its fingerprint (the running-process check looks
        // at every process).
        const QString sleepPath = QStandardPaths::findExecutable(QStringLiteral("sleep"));
        ASSERT_FALSE(sleepPath.isEmpty());
        Dialer = FApp + "/qmvardel-dialer";
        QFile sleep(sleepPath);
        ASSERT_TRUE(sleep.open(QIODevice::ReadOnly));
        QByteArray image = sleep.readAll();
        for (int i = 0, n = 1 + QRandomGenerator::global()->bounded(100000); i < n; ++i)
            image.append(static_cast<char>(QRandomGenerator::global()->bounded(256)));
        WriteText(Dialer, image);
        QFile::setPermissions(Dialer, QFile::permissions(Dialer) | QFileDevice::ExeOwner);

        // Installed: 1.0 with the shipped test file, last written long ago.
        Shipped = QString::fromUtf8(FingerprintOf(FApp + "/qmvardel-test.sh"));
        WriteText(FApp + "/Sygn.ini", ("[1.0]\r\n" + Shipped + "\r\n").toUtf8());
        QFile installed(FApp + "/Sygn.ini");
        ASSERT_TRUE(installed.open(QIODevice::ReadWrite));
        installed.setFileTime(QDateTime(QDate(2020, 1, 2), QTime(12, 0)), QFileDevice::FileModificationTime);
        installed.close();
        // Published: 1.1, which also lists the dialer.
        NewDatabase = ("[1.1]\r\n" + Shipped + "\r\n").toUtf8() + FingerprintOf(Dialer) + "\r\n";
        WriteText(Publish + "/Sygn.ini", NewDatabase);
        ASSERT_EQ(
            Sig({"sign", "--key", FTemp.filePath(QStringLiteral("signing.pem")), Publish + "/Sygn.ini"}), 0);

        WriteText(FApp + "/QmVardel.ini", "[main]\nfirst_run_flg=0\nsound_effect=0\ncheck_entries=0\n"
                                          "update_url=" +
                                              QByteArray::fromStdString(Server->Url()) +
                                              "\n[allowed_connections]\n0=0202122\n");

        // Running already when the program starts: the start-up check with 1.0 must let it be.
        DialerProcess.start(Dialer, {QStringLiteral("600")});
        ASSERT_TRUE(DialerProcess.waitForStarted(5000));
    }

    int Sig(const QStringList& args) const {
        QProcess p;
        p.start(QStringLiteral(QM_TEST_BIN_DIR "/qmvardel-sig"), args);
        p.waitForFinished(10000);
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QByteArray FingerprintOf(const QString& file) const {
        QProcess p;
        p.start(QStringLiteral(QM_TEST_BIN_DIR "/qmvardel-sig"), {QStringLiteral("fingerprint"), file});
        p.waitForFinished(10000);
        return p.readAllStandardOutput().trimmed();
    }

    static QString ReadText(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QString MainWindow() const { return Windows(QStringLiteral("^Qm Vardel$")).value(0); }

    // Clicks the "Aktualizacja" tab and waits until the window shows another page.
    bool ShowUpdateTab(const QString& window) const {
        const QImage before = StableShot(window);
        Click(window, kTabX, kTabY);
        return !StableShot(window, before).isNull();
    }

    void Click(const QString& window, int x, int y) const {
        Xdotool({"windowfocus", "--sync", window});
        Xdotool({"mousemove", "--sync", "--window", window, QString::number(x), QString::number(y), "click",
                 "1"});
    }

    // The memo's lines, selected with Ctrl+A (which sets the X primary selection) and read back.
    QStringList Memo(const QString& window) const {
        Click(window, kMemoX, kMemoY);
        Xdotool({"key", "ctrl+a"});
        QProcess xclip;
        xclip.setProcessEnvironment(FEnv);
        xclip.start(QStringLiteral("xclip"), {"-o", "-selection", "primary"});
        xclip.waitForFinished(5000);
        return QString::fromUtf8(xclip.readAllStandardOutput()).split('\n');
    }

    // Polls the memo until it reads `expected` (a selection read just before the run's last lines
    // arrive, or before Ctrl+A took effect, is simply read again).
    QStringList WaitForMemo(const QString& window,
                            const std::function<bool(const QStringList&)>& expected) const {
        QStringList lines;
        WaitUntil(
            [&] {
                lines = Memo(window);
                return expected(lines);
            },
            kRunMs);
        return lines;
    }

    // The window as drawn, once two captures in a row agree (and differ from `other`); null if it
    // never settles.
    QImage StableShot(const QString& window, const QImage& other = QImage()) const {
        const QString shot = FTemp.filePath(QStringLiteral("shot.png"));
        QImage last, now;
        const bool settled = WaitUntil([&] {
            last = now;
            QProcess import;
            import.setProcessEnvironment(FEnv);
            import.start(QStringLiteral("import"), {"-window", window, "png:" + shot});
            import.waitForFinished(10000);
            now = QImage(shot);
            return !now.isNull() && now == last && now != other;
        });
        return settled ? now : QImage();
    }

    // The database label and the update button as drawn.
    struct TLook {
        QImage Label, Button;
    };
    TLook Look(const QString& window) const {
        const QImage shot = StableShot(window);
        return {shot.copy(kLabelRect), shot.copy(kButtonRect)};
    }

    // The dialer prompt: a second window with the main window's title.
    QString WaitForDialerPrompt(const QString& mainWindow) const {
        QString found;
        WaitUntil(
            [&] {
                for (const QString& w : Windows(QStringLiteral("^Qm Vardel$")))
                    if (w != mainWindow)
                        found = w;
                return !found.isEmpty();
            },
            kRunMs);
        return found;
    }

    std::unique_ptr<TTestLighttpd> Server;
    QString Publish, Dialer, Shipped;
    QByteArray NewDatabase;
    QProcess DialerProcess;
};

QStringList Received(const QString& message) {
    return {"Pobieranie plików aktualizacji",
            "Łączenie z serwerem",
            "Połączono z serwerem",
            message,
            "Pobieranie pliku 1 z 2",
            "Pobieranie pliku zakończone",
            "Pobieranie pliku 2 z 2",
            "Pobieranie pliku zakończone",
            "Pobieranie plików aktualizacji zakończone"};
}

std::string Text(const QStringList& lines) {
    return lines.join('\n').toStdString();
}

} // namespace

TEST_F(UpdateE2E, SignedDatabaseIsInstalledThenCurrentAndABadlySignedOneRefused) {
    const QString window = MainWindow();
    ASSERT_EQ(Windows(QStringLiteral("^Qm Vardel$")), QStringList{window}) << "a prompt at start\n" << Log();
    ASSERT_TRUE(ShowUpdateTab(window)) << Log();
    const TLook before = Look(window);
    ASSERT_FALSE(before.Label.isNull());

    // 1. Behind: both files arrive, the database is installed and loaded, and the running-process
    // check of the end steps now knows the running copy. It is left running.
    Click(window, kButtonX, kButtonY);
    QString prompt = WaitForDialerPrompt(window);
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Tab", "space"});
    const QStringList installed = Received("Dostępna jest nowa baza dialerów (wersja 1.1).");
    EXPECT_EQ(Text(WaitForMemo(window, [&](const QStringList& m) { return m == installed; })),
              Text(installed));
    EXPECT_EQ(ReadText(FApp + "/Sygn.ini").toUtf8(), NewDatabase);
    EXPECT_EQ(QFileInfo(FApp + "/Sygn.ini").lastModified().date(), QDate::currentDate());
    // The label changed; the button reads " Aktualizuj" again.
    const TLook installedLook = Look(window);
    EXPECT_TRUE(installedLook.Label != before.Label);
    EXPECT_TRUE(installedLook.Button == before.Button);
    EXPECT_EQ(DialerProcess.state(), QProcess::Running);

    // 2. Current: only the server's message; the dialer left running is asked about again.
    Click(window, kButtonX, kButtonY);
    prompt = WaitForDialerPrompt(window);
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Tab", "space"});
    const QStringList current = {"Pobieranie plików aktualizacji", "Łączenie z serwerem",
                                 "Połączono z serwerem", "Baza dialerów jest aktualna (wersja 1.1).",
                                 "Pobieranie plików aktualizacji zakończone"};
    EXPECT_EQ(Text(WaitForMemo(window, [&](const QStringList& m) { return m == current; })), Text(current));
    EXPECT_TRUE(Look(window).Label == installedLook.Label);

    // 3. A 1.2 that no longer lists the dialer, changed after it was signed: refused, so 1.1 stays
    // loaded and its check still finds the dialer, which is removed this time.
    QByteArray tampered = ("[1.2]\r\n" + Shipped + "\r\n").toUtf8();
    WriteText(Publish + "/Sygn.ini", tampered);
    ASSERT_EQ(Sig({"sign", "--key", FTemp.filePath(QStringLiteral("signing.pem")), Publish + "/Sygn.ini"}),
              0);
    WriteText(Publish + "/Sygn.ini", tampered + Shipped.toUtf8() + "\r\n");
    Click(window, kButtonX, kButtonY);
    prompt = WaitForDialerPrompt(window);
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Return"});
    QString box;
    WaitUntil(
        [&] {
            box = Windows(QStringLiteral("^Informacja$")).value(0);
            return !box.isEmpty();
        },
        kRunMs);
    ASSERT_FALSE(box.isEmpty()) << Log();
    Keys(box, {"Return"});
    EXPECT_TRUE(DialerProcess.waitForFinished(15000));
    EXPECT_TRUE(QFile::exists(FApp + "/back/qmvardel-dialer"));
    const QStringList refused = Received("Dostępna jest nowa baza dialerów (wersja 1.2).");
    const QStringList memo = WaitForMemo(window, [&](const QStringList& m) {
        return m.size() == refused.size() + 1 && m.mid(0, refused.size()) == refused;
    });
    ASSERT_EQ(memo.size(), refused.size() + 1) << Text(memo);
    EXPECT_EQ(Text(memo.mid(0, refused.size())), Text(refused));
    EXPECT_TRUE(memo.last().startsWith("Otrzymana baza danych została odrzucona: błędny podpis"))
        << memo.last().toStdString();
    EXPECT_EQ(ReadText(FApp + "/Sygn.ini").toUtf8(), NewDatabase);
    const TLook refusedLook = Look(window);
    EXPECT_TRUE(refusedLook.Label == installedLook.Label);
    EXPECT_TRUE(refusedLook.Button == before.Button);

    // The label after the install is the one the program draws at start for the installed 1.1 of
    // today.
    FProgram.terminate();
    ASSERT_TRUE(FProgram.waitForFinished(15000));
    FProgram.start(FApp + "/QmVardel", {});
    ASSERT_TRUE(FProgram.waitForStarted(10000));
    ASSERT_TRUE(WaitUntil([&] { return !MainWindow().isEmpty(); })) << Log();
    const QString restarted = MainWindow();
    ASSERT_TRUE(ShowUpdateTab(restarted)) << Log();
    EXPECT_TRUE(Look(restarted).Label == installedLook.Label);
}

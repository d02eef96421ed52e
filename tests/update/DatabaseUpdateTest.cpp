#include "UpdateRig.h"

#include "fakes/FakeUpdateView.h"
#include "net/uEd25519Signature.h"
#include "platform/linux/uLinuxPlatform.h"
#include "update/uDatabaseUpdate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::HasSubstr;

namespace {

// A database of count well-formed lines after its version line.
std::string Database(const std::string& version, int count = 3) {
    std::string text = "[" + version + "]\r\n";
    for (int i = 0; i < count; ++i)
        text += std::to_string(2000 + i) + "-4D5A90000300000004000000FFFF0000B8\r\n";
    return text;
}

class TDatabaseRig : public TUpdateRig {
public:
    std::string AppDir = Temp / "app/";
    TLinuxFileSystem FileSystem;
    TFakeClock Clock;
    TEd25519Signature Signature;
    std::unique_ptr<TAppIni> Ini;
    std::unique_ptr<TSygnatureManager> Db;
    TFakeUpdateView View;
    std::vector<TTrayState> Tray;
    int RunningChecks = 0;
    bool Loading = false;
    std::unique_ptr<TDatabaseUpdate> Update;

    // The data folder: the program's own one, or (an installed program) a folder of its own.
    std::string DataDir = AppDir;

    explicit TDatabaseRig(const std::string& installed = Database("1.0"), bool separateData = false) {
        Temp.Write("app/Sygn.ini", installed);
        if (separateData) {
            DataDir = Temp / "data/";
            Temp.Write("data/.keep", "");
        }
        Ini = std::make_unique<TAppIni>(AppDir + "QmVardel.ini", FileSystem);
        Ini->WriteString("update_url", Server.Url("/cgi-bin/vardel-update.pl"), "main");
        Db = std::make_unique<TSygnatureManager>(AppDir + "Sygn.ini", FileSystem, std::string());
        Update = std::make_unique<TDatabaseUpdate>(
            TDatabaseUpdateContext{.HttpUpdate = Client,
                                   .Database = *Db,
                                   .FileSystem = FileSystem,
                                   .Files = Files,
                                   .Clock = Clock,
                                   .Ini = *Ini,
                                   .Pump = Pump,
                                   .Signature = Signature,
                                   .AppDir = AppDir,
                                   .DataDir = DataDir,
                                   .SetTrayState = [this](TTrayState s) { Tray.push_back(s); },
                                   .CheckRunningDialers = [this] { ++RunningChecks; },
                                   .Loading = [this] { return Loading; },
                                   .FormatShortDate = {}},
            View);
        Server.SetScript("msg Nowa baza danych\nfile Sygn.ini\n");
    }
    void Publish(const std::string& database) { Server.Serve("/cgi-bin/Sygn.ini", database); }
    std::string Installed() const { return Temp.Read("app/Sygn.ini"); }
    // Makes a key pair, puts its public half beside the program and returns the private half.
    std::string UseKey() {
        const TEd25519Signature::TKeyPair keys = TEd25519Signature::GenerateKeyPair();
        Temp.Write("app/Sygn.pub", keys.PublicPem);
        return keys.PrivatePem;
    }
};

} // namespace

TEST(DatabaseUpdate, SuccessfulRunInstallsTheReceivedDatabase) {
    TDatabaseRig rig;
    rig.Publish(Database("2.0", 5));
    rig.View.Log = {"line of the last run"};
    rig.Update->btnUpdateClick();
    EXPECT_THAT(rig.View.Log,
                ElementsAre("Pobieranie plików aktualizacji", "Łączenie z serwerem", "Połączono z serwerem",
                            "Nowa baza danych", "Pobieranie pliku 1 z 1", "Pobieranie pliku zakończone",
                            "Pobieranie plików aktualizacji zakończone"));
    EXPECT_TRUE(rig.Update->LastRunSucceeded());
    EXPECT_EQ(rig.Installed(), Database("2.0", 5));
    EXPECT_EQ(rig.Db->Version(), "2.0");
    EXPECT_EQ(rig.Db->Lines().size(), 5u);
    EXPECT_THAT(rig.View.Info, HasSubstr("\r\nWersja bazy danych: <b>2.0</b>"));
    EXPECT_THAT(rig.View.Info, testing::StartsWith("Data ostatniej aktualizacji: <b>"));
    EXPECT_THAT(rig.View.Captions, ElementsAre(" Przerwij", " Aktualizuj"));
    EXPECT_THAT(rig.Tray, ElementsAre(trayUpdating, trayReset));
    EXPECT_EQ(rig.RunningChecks, 1);
    EXPECT_EQ(rig.Http.ReadTimeout(), 180000);
    const TTestRequest post = rig.Server.Http.Requests().at(0);
    EXPECT_THAT(post.Body, HasSubstr("name=\"SygnatureVer\"\r\n\r\n1.0\r\n"));
    EXPECT_THAT(post.Body, HasSubstr("name=\"\"\r\n\r\n\r\n"));
}

TEST(DatabaseUpdate, InstalledProgramKeepsTheReceivedDatabaseInItsDataFolder) {
    TDatabaseRig rig(Database("1.0"), true);
    rig.Publish(Database("2.0", 5));
    rig.Update->btnUpdateClick();
    EXPECT_TRUE(rig.Update->LastRunSucceeded());
    EXPECT_EQ(rig.Installed(), Database("1.0")) << "the shipped database is left alone";
    EXPECT_EQ(rig.Temp.Read("data/Sygn.ini"), Database("2.0", 5));
    EXPECT_EQ(rig.Db->Version(), "2.0");
    EXPECT_EQ(rig.Db->FileName(), rig.DataDir + "Sygn.ini");
}

TEST(DatabaseUpdate, RefusesWhatIsNoDatabaseAndKeepsTheInstalledOne) {
    std::string mostlyBad = "[3.0]\n2000-4D5A90000300000004000000FFFF0000B8\nfoo\nbar\n";
    const struct {
        std::string Served;
        const char* Line;
    } cases[] = {
        {"<html><head><title>404 Not Found</title></head>\n<body><h1>Not Found</h1></body></html>\n",
         "odrzucona"},
        {std::string("[3.0]\n\x7f"
                     "ELF\x02\x01\x01\0\0\0",
                     14),
         "nie jest plik tekstowy"},
        {mostlyBad, "większość wierszy (2 z 3)"},
        {"[3.0]\r\n", "nie zawiera sygnatur"},
    };
    for (const auto& c : cases) {
        TDatabaseRig rig;
        rig.Publish(c.Served);
        rig.Update->RunDatabaseUpdate();
        EXPECT_FALSE(rig.Update->LastRunSucceeded());
        EXPECT_THAT(rig.View.Log.back(), HasSubstr(c.Line));
        EXPECT_EQ(rig.Installed(), Database("1.0"));
        EXPECT_EQ(rig.Db->Version(), "1.0");
    }
    // An error page with its error status is a failed download, not a database.
    TDatabaseRig rig;
    rig.Client.MaxRetries = 1;
    rig.Update->RunDatabaseUpdate();
    EXPECT_THAT(rig.View.Log.back(), HasSubstr("HTTP 404"));
    EXPECT_EQ(rig.Installed(), Database("1.0"));
}

TEST(DatabaseUpdate, WithAKeyOnlySignedNotOlderDatabasesAreInstalled) {
    const struct {
        const char* Name;
        std::string Version;
        int Signing; // 0 valid, 1 signs other bytes, 2 no signature, 3 garbage
        bool Installed;
    } cases[] = {
        {"valid", "2.0", 0, true},     {"same version", "1.0", 0, true}, {"other bytes", "2.0", 1, false},
        {"unsigned", "2.0", 2, false}, {"garbage", "2.0", 3, false},     {"older", "0.9", 0, false},
    };
    for (const auto& c : cases) {
        TDatabaseRig rig;
        const std::string key = rig.UseKey();
        const std::string db = Database(c.Version, 4);
        rig.Publish(db);
        std::string script = "file Sygn.ini\n";
        if (c.Signing != 2) {
            const std::string sig = c.Signing == 0   ? TEd25519Signature::Sign(db, key)
                                    : c.Signing == 1 ? TEd25519Signature::Sign(db + "\n", key)
                                                     : std::string("not a signature");
            rig.Server.Serve("/cgi-bin/Sygn.ini.sig", sig + "\n");
            script += "file Sygn.ini.sig\n";
        }
        rig.Server.SetScript(script);
        rig.Update->RunDatabaseUpdate();
        EXPECT_EQ(rig.Update->LastRunSucceeded(), c.Installed) << c.Name;
        EXPECT_EQ(rig.Installed(), c.Installed ? db : Database("1.0")) << c.Name;
        if (!c.Installed) {
            EXPECT_THAT(rig.View.Log.back(), HasSubstr("odrzucona")) << c.Name;
        }
    }
}

TEST(DatabaseUpdate, AbortEndsTheRunAndALeftOverFileIsNeverInstalled) {
    TDatabaseRig rig;
    rig.Server.Files["/cgi-bin/Sygn.ini"] =
        TTestReply{200, "", "text/plain", [](int fd, const std::atomic<bool>& stopping) {
                       TTestHttpServer::SendAll(fd, Database("9.0", 2));
                       while (!stopping && TTestHttpServer::SendAll(fd, "2000-"))
                           std::this_thread::sleep_for(std::chrono::milliseconds(5));
                   }};
    int pumps = 0;
    rig.Pump.OnPump = [&] {
        // A connection coming up during the run starts no second one.
        rig.Update->CheckAutoUpdate();
        if (++pumps == 20)
            rig.Update->btnUpdateClick();
    };
    rig.Clock.Time = rig.Db->DatabaseDate() + 30;
    rig.Update->btnUpdateClick();
    EXPECT_EQ(rig.View.Log.back(), "Aktualizacja przerwana przez użytkownika");
    EXPECT_THAT(rig.View.Captions, ElementsAre(" Przerwij", " Aktualizuj"));
    EXPECT_THAT(rig.Tray, ElementsAre(trayUpdating, trayReset));
    EXPECT_EQ(rig.Installed(), Database("1.0"));
    EXPECT_TRUE(rig.FileSystem.FileExists(rig.AppDir + "Updates/Sygn.ini")) << "the partial file stays";

    // The next run deletes it before it asks the (now dead) server.
    rig.Pump.OnPump = nullptr;
    rig.Ini->WriteString("update_url",
                         "http://127.0.0.1:" + std::to_string(TTestHttpServer::DeadPort()) + "/u", "main");
    rig.Update->RunDatabaseUpdate();
    EXPECT_FALSE(rig.FileSystem.FileExists(rig.AppDir + "Updates/Sygn.ini"));
    EXPECT_EQ(rig.Installed(), Database("1.0"));
}

TEST(DatabaseUpdate, AutomaticUpdateNeedsTheOptionAndAWeekOldDatabase) {
    const struct {
        bool Option;
        double Age;
        bool Runs;
    } cases[] = {{true, 6.9, false}, {true, 7.0, true}, {true, -3, false}, {false, 30, false}};
    for (const auto& c : cases) {
        TDatabaseRig rig;
        rig.Ini->WriteString(
            "update_url", "http://127.0.0.1:" + std::to_string(TTestHttpServer::DeadPort()) + "/u", "main");
        rig.Client.MaxRetries = 1;
        rig.View.AutoUpdate = c.Option;
        // Whole days count: midnight of the database's day plus the age.
        rig.Clock.Time = static_cast<double>(qm::DayNumber(rig.Db->DatabaseDate())) + c.Age + 0.01;
        rig.Update->CheckAutoUpdate();
        EXPECT_EQ(!rig.Tray.empty(), c.Runs) << c.Age;
    }
}

TEST(DatabaseUpdate, AutoUpdateOptionIsStoredUnlessSettingsAreLoading) {
    TDatabaseRig rig;
    rig.View.AutoUpdate = false;
    rig.Loading = true;
    rig.Update->chbAutoUpdateClick();
    EXPECT_TRUE(rig.Ini->ReadBool("autoupdate", true, "main"));
    rig.Loading = false;
    rig.Update->chbAutoUpdateClick();
    EXPECT_FALSE(rig.Ini->ReadBool("autoupdate", true, "main"));
}

TEST(DatabaseUpdate, UnconfiguredUpdateUrlNamesAHostThatNeverResolves) {
    // Not run here: even a name that cannot resolve would be asked of the machine's resolver.
    const std::string url = TDatabaseUpdate::kDefaultUpdateUrl;
    const std::string host = url.substr(7, url.find('/', 7) - 7);
    EXPECT_TRUE(host.ends_with(".invalid")) << host;
    EXPECT_TRUE(url.ends_with("/cgi-bin/vardel-update.pl"));
}

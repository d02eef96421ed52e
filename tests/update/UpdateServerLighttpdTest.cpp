// The whole way a database travels: a signature author's signed database published under lighttpd
// on 127.0.0.1 with the CGI update server, fetched, checked and installed by the update run.
#include "UpdateRig.h"

#include "fakes/FakeUpdateView.h"
#include "net/uEd25519Signature.h"
#include "platform/linux/uLinuxPlatform.h"
#include "support/TestLighttpd.h"
#include "update/uDatabaseUpdate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::HasSubstr;

namespace {

std::string Database(const std::string& version) {
    return "[" + version +
           "]\r\n2000-4D5A90000300000004000000FFFF0000B8\r\n2001-4D5A90000300000004000000FFFF0000B8\r\n";
}

} // namespace

TEST(UpdateServerLighttpd, PublishedSignedDatabaseIsInstalledOnceAndABadOneRefused) {
    if (!TTestLighttpd::Installed())
        GTEST_SKIP() << "lighttpd is not installed (scripts/setup.sh installs it)";
    TUpdateRig rig;
    TTestLighttpd server(rig.Temp.Path());
    ASSERT_TRUE(server.Ready()) << rig.Temp.Read("error.log");

    const TEd25519Signature::TKeyPair keys = TEd25519Signature::GenerateKeyPair();
    rig.Temp.Write("app/Sygn.pub", keys.PublicPem);
    rig.Temp.Write("app/Sygn.ini", Database("1.0"));
    auto publish = [&](const std::string& db, const std::string& signedBytes) {
        rig.Temp.Write("www/qmvardel/Sygn.ini.sig",
                       TEd25519Signature::Sign(signedBytes, keys.PrivatePem) + "\n");
        rig.Temp.Write("www/qmvardel/Sygn.ini", db);
    };
    publish(Database("1.1"), Database("1.1"));

    TLinuxFileSystem fileSystem;
    TFakeClock clock;
    TEd25519Signature signature;
    TAppIni ini(rig.Temp / "app/QmVardel.ini", fileSystem);
    ini.WriteString("update_url", server.Url(), "main");
    TSygnatureManager db(rig.Temp / "app/Sygn.ini", fileSystem, std::string());
    TFakeUpdateView memo;
    TDatabaseUpdate update({.HttpUpdate = rig.Client,
                            .Database = db,
                            .FileSystem = fileSystem,
                            .Files = rig.Files,
                            .Clock = clock,
                            .Ini = ini,
                            .Pump = rig.Pump,
                            .Signature = signature,
                            .AppDir = rig.Temp / "app/",
                            .DataDir = rig.Temp / "app/",
                            .SetTrayState = {},
                            .CheckRunningDialers = {},
                            .Loading = {},
                            .FormatShortDate = {}},
                           memo);

    update.RunDatabaseUpdate();
    EXPECT_THAT(memo.Log, testing::ElementsAre(
                              "Pobieranie plików aktualizacji", "Łączenie z serwerem", "Połączono z serwerem",
                              "Dostępna jest nowa baza dialerów (wersja 1.1).", "Pobieranie pliku 1 z 2",
                              "Pobieranie pliku zakończone", "Pobieranie pliku 2 z 2",
                              "Pobieranie pliku zakończone", "Pobieranie plików aktualizacji zakończone"));
    EXPECT_EQ(db.Version(), "1.1");

    update.RunDatabaseUpdate();
    EXPECT_EQ(memo.Log.at(3), "Baza dialerów jest aktualna (wersja 1.1).");
    EXPECT_TRUE(update.LastRunSucceeded());

    publish(Database("1.2"), Database("1.2") + "tampered");
    update.RunDatabaseUpdate();
    EXPECT_THAT(memo.Log.back(), HasSubstr("odrzucona: błędny podpis"));
    EXPECT_EQ(db.Version(), "1.1");
    EXPECT_EQ(rig.Temp.Read("app/Sygn.ini"), Database("1.1"));
}

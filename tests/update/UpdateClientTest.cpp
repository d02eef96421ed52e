#include "UpdateRig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <zip.h>

using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

// The names of a multipart body's parts, in order.
std::vector<std::string> PartNames(const std::string& body) {
    std::vector<std::string> names;
    std::size_t pos = 0;
    while ((pos = body.find("name=\"", pos)) != std::string::npos) {
        pos += 6;
        names.push_back(body.substr(pos, body.find('"', pos) - pos));
    }
    return names;
}

} // namespace

TEST(UpdateClient, DeadServerLogsEachRetryThenTheError) {
    struct TCase {
        int MaxRetries;
        std::vector<std::string> Starts;
    } cases[] = {
        {3,
         {"Pobieranie plików aktualizacji", "Łączenie z serwerem",
          "Ponowne łączenie z serwerem (próba 2 z 3). Poprzednia próba zakończyła się błędem: ",
          "Ponowne łączenie z serwerem (próba 3 z 3). Poprzednia próba zakończyła się błędem: ",
          "Błąd połączenia z serwerem. Kod błędu: ", "Aktualizacja zakończona niepowodzeniem. Kod błędu: "}},
        {1,
         {"Pobieranie plików aktualizacji", "Łączenie z serwerem",
          "Błąd połączenia z serwerem. Kod błędu: ", "Aktualizacja zakończona niepowodzeniem. Kod błędu: "}},
    };
    for (const TCase& c : cases) {
        TUpdateRig rig;
        rig.Client.MaxRetries = c.MaxRetries;
        rig.Client.URLToUpdate = "http://127.0.0.1:" + std::to_string(TTestHttpServer::DeadPort()) + "/u.pl";
        int retries = 0;
        rig.Client.OnPostDataRetry = [&](TQmHttpUpdate&, int) {
            ++retries;
        };
        EXPECT_FALSE(rig.Client.Update());
        ASSERT_EQ(rig.Log.size(), c.Starts.size()) << c.MaxRetries;
        for (std::size_t i = 0; i < c.Starts.size(); ++i)
            EXPECT_THAT(rig.Log[i], StartsWith(c.Starts[i]));
        EXPECT_GT(rig.Log.back().size(), c.Starts.back().size()) << "the error text is shown";
        EXPECT_EQ(retries, c.MaxRetries - 1);
    }
}

TEST(UpdateClient, EmptyReplySucceedsAndTheFormGoesOutInOrder) {
    TUpdateRig rig;
    rig.Client.SetParams({"SygnatureVer=2024.1", ""});
    EXPECT_TRUE(rig.Run(""));
    EXPECT_THAT(rig.Log, ElementsAre("Pobieranie plików aktualizacji", "Łączenie z serwerem",
                                     "Połączono z serwerem", "Pobieranie plików aktualizacji zakończone"));
    const TTestRequest post = rig.Server.Http.Requests().at(0);
    EXPECT_EQ(post.Version, "HTTP/1.0");
    EXPECT_EQ(post.Target, "/cgi-bin/vardel-update.pl");
    EXPECT_THAT(post.Header("Content-Type"), StartsWith("multipart/form-data; boundary="));
    EXPECT_THAT(PartNames(post.Body), ElementsAre("appname", "appversion", "SygnatureVer", ""));
    EXPECT_THAT(post.Body, HasSubstr("\r\n\r\n1.0.0.28\r\n"));
    EXPECT_THAT(post.Body, HasSubstr("\r\n\r\n2024.1\r\n"));
    EXPECT_EQ(rig.Client.URLToRecv(), rig.Client.URLToUpdate);

    // The platform fields, when asked for, come between the identity and the parameters.
    rig.Client.ParamsOptions = 0x3F;
    rig.Client.SetParams({"b=2", "novalue"});
    EXPECT_TRUE(rig.Run(""));
    EXPECT_THAT(PartNames(rig.Server.Http.Requests().back().Body),
                ElementsAre("appname", "appversion", "cpumanufacture", "cpuname", "cpufreq", "winver",
                            "winverno", "wintype", "sysvol", "sysvolserialno", "biosdate", "b", ""));
}

TEST(UpdateClient, RunsTheStandardCommandsAndHandsTheRestToOnCmd) {
    TUpdateRig rig;
    std::vector<std::string> cmds, paramErrors, messages;
    rig.Client.OnCmd = [&](TQmHttpUpdate&, bool&, const std::string& cmd, const TStringList& params,
                           const std::string&) {
        cmds.push_back(cmd + "|" + std::to_string(params.size()));
    };
    rig.Client.OnStdCmdParamsError = [&](TQmHttpUpdate&, const std::string& cmd, const TStringList&,
                                         const std::string&) {
        paramErrors.push_back(cmd);
    };
    rig.Client.OnStdCmd_Msg = [&](TQmHttpUpdate&, bool&, const std::string& m) {
        messages.push_back(m);
    };
    const std::string longText(300, 'x');
    EXPECT_TRUE(rig.Run("LastVersion 1.0.0.28\r\n# a comment\n#direct\rlastversion\nFILE a b c\n"
                        "MSG " +
                        longText + "\nCustom Thing\n\nmsg Zażółć gęślą\n"));
    EXPECT_EQ(rig.Client.LastVersion, "1.0.0.28");
    EXPECT_TRUE(rig.Client.IsLastVersion);
    EXPECT_THAT(paramErrors, ElementsAre("lastversion", "file"));
    EXPECT_THAT(cmds, ElementsAre("#direct|0", "lastversion|0", "file|3", "custom|1", "|0"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], std::string(254, 'x')) << "255 characters from the delimiter, trimmed";
    EXPECT_EQ(messages[1], "Zażółć gęślą");
    EXPECT_EQ(rig.Client.FilesToRecv(), 1) << "a file line counts whatever its parameters";

    // A reply without lastversion keeps what the last one said; a different case is another version.
    EXPECT_TRUE(rig.Run("lastversion 1.0.0.28A"));
    EXPECT_FALSE(rig.Client.IsLastVersion);
    EXPECT_TRUE(rig.Run(""));
    EXPECT_EQ(rig.Client.LastVersion, "1.0.0.28A");
}

TEST(UpdateClient, ErrorCommandAndErrorStatusFailTheRun) {
    TUpdateRig rig;
    EXPECT_FALSE(rig.Run("error\nmsg never"));
    EXPECT_EQ(rig.Log.back(), "Aktualizacja zakończona niepowodzeniem. Kod błędu: ");
    EXPECT_EQ(std::count(rig.Log.begin(), rig.Log.end(), "never"), 0);

    // The body of a reply that is not success is no script: its file line never runs.
    rig.Server.ScriptStatus = 404;
    rig.Client.MaxRetries = 1;
    EXPECT_FALSE(rig.Run("file " + rig.Server.Url("/x") + "\n"));
    EXPECT_THAT(rig.Log.back(), HasSubstr("HTTP 404"));
    EXPECT_EQ(rig.Server.Http.Requests().back().Method, "POST");
    EXPECT_TRUE(TreeOf(rig.RecvDir).empty());
}

TEST(UpdateClient, BareNamesComeFromTheSourceUrl) {
    TUpdateRig rig;
    rig.Server.Serve("/cgi-bin/Sygn.ini", "from cgi-bin");
    rig.Server.Serve("/pub/Sygn.ini", "from pub");
    EXPECT_TRUE(rig.Run("file Sygn.ini\n"));
    EXPECT_EQ(rig.Temp.Read("recv/Sygn.ini"), "from cgi-bin");
    EXPECT_TRUE(rig.Run("sourceurl " + rig.Server.Url("/pub/") + "\nfile Sygn.ini\n"));
    EXPECT_EQ(rig.Temp.Read("recv/Sygn.ini"), "from pub");
    EXPECT_THAT(rig.Log,
                ElementsAre("Pobieranie plików aktualizacji", "Łączenie z serwerem", "Połączono z serwerem",
                            "Pobieranie pliku 1 z 1", "Pobieranie pliku zakończone",
                            "Pobieranie plików aktualizacji zakończone"));
    const TTestRequest get = rig.Server.Http.Requests().back();
    EXPECT_EQ(get.Target, "/pub/Sygn.ini");
    EXPECT_EQ(get.Header("Content-Type"), "text/html");
    EXPECT_THAT(rig.Client.FilesRecvList(), ElementsAre(rig.RecvDir + "/Sygn.ini"));

    // A URL that ends in "/" names no file.
    EXPECT_FALSE(rig.Run("file " + rig.Server.Url("/pub/") + "\n"));
}

TEST(UpdateClient, FailedDownloadAttemptLeavesOnlyTheGoodData) {
    TUpdateRig rig;
    int gets = 0;
    rig.Http.SetReadTimeout(1000);
    rig.Server.Files["/f"] =
        TTestReply{200, "", "text/plain", [&](int fd, const std::atomic<bool>& stopping) {
                       TTestHttpServer::SendAll(fd, ++gets == 1 ? "PARTIAL-" : "good");
                       // The first attempt stalls until the client gives up on it.
                       char byte;
                       for (int i = 0; gets == 1 && !stopping && i < 1000; ++i) {
                           pollfd p{fd, POLLIN, 0};
                           if (::poll(&p, 1, 10) > 0 && ::recv(fd, &byte, 1, 0) <= 0)
                               break;
                       }
                   }};
    EXPECT_TRUE(rig.Run("file " + rig.Server.Url("/f") + " data.bin\n"));
    EXPECT_EQ(rig.Temp.Read("recv/data.bin"), "good");
    EXPECT_THAT(rig.Log[4],
                StartsWith("Ponowne pobieranie pliku (próba 2 z 3). Poprzednia próba zakończyła się "
                           "błędem: Przekroczono czas oczekiwania"));
}

TEST(UpdateClient, AbortStopsTheRunAtOnceAndOnlyThatRun) {
    TUpdateRig rig;
    rig.Client.Abort(); // while idle
    EXPECT_TRUE(rig.Run(""));

    rig.Server.Files["/slow"] =
        TTestReply{200, "", "text/plain", [](int fd, const std::atomic<bool>& stopping) {
                       while (!stopping && TTestHttpServer::SendAll(fd, "x"))
                           std::this_thread::sleep_for(std::chrono::milliseconds(5));
                   }};
    std::chrono::steady_clock::time_point abortedAt;
    rig.Client.OnHttpRecv = [&](TQmHttpUpdate&, std::int64_t done) {
        if (done > 10 && !rig.Client.Aborted()) {
            abortedAt = std::chrono::steady_clock::now();
            rig.Client.Abort(); // as the abort button does, from a user-interface event
        }
    };
    EXPECT_FALSE(rig.Run("file " + rig.Server.Url("/slow") + "\nmsg never\n"));
    const auto latency = std::chrono::steady_clock::now() - abortedAt;
    EXPECT_LT(latency, std::chrono::milliseconds(1000));
    EXPECT_EQ(rig.Log.back(), "Aktualizacja przerwana przez użytkownika");
    EXPECT_EQ(std::count(rig.Log.begin(), rig.Log.end(), "never"), 0);
    EXPECT_THAT(rig.Log, testing::Contains(StartsWith("Błąd pobrania pliku. Kod błędu: ")));
    EXPECT_THAT(rig.Log, testing::Not(testing::Contains(StartsWith("Ponowne"))));
}

TEST(UpdateClient, HostileLocalNamesWriteNothingOutsideTheFolder) {
    TUpdateRig rig;
    rig.Server.Serve("/x", "payload");
    const std::string outside = rig.Temp.Write("outside.txt", "mine");
    ::symlink(outside.c_str(), (rig.RecvDir + "/link").c_str());
    ::mkfifo((rig.RecvDir + "/fifo").c_str(), 0600);
    const std::string cases[] = {"../../evil",
                                 "../outside.txt",
                                 rig.Temp / "abs.txt",
                                 "sub/evil",
                                 "..",
                                 ".",
                                 "link",
                                 "fifo",
                                 "NUL.txt",
                                 "a\\b"};
    for (const std::string& name : cases) {
        EXPECT_FALSE(rig.Run("file " + rig.Server.Url("/x") + " " + name + "\n")) << name;
        EXPECT_EQ(rig.Client.FilesRecvList().size(), 0u);
        EXPECT_TRUE(std::filesystem::is_symlink(rig.RecvDir + "/link")) << name;
    }
    EXPECT_FALSE(rig.Run("file " + rig.Server.Url("/..") + "\n"));
    EXPECT_THAT(rig.Log, testing::Contains(StartsWith("Niedozwolona nazwa pliku \"..\"")));
    EXPECT_EQ(rig.Temp.Read("outside.txt"), "mine");
    EXPECT_EQ(TreeOf(rig.Temp.Path()), (std::set<std::string>{"outside.txt", "recv/link", "recv/fifo"}));
}

TEST(UpdateClient, EndlessBodyStopsAtTheDownloadLimit) {
    TUpdateRig rig;
    rig.Client.MaxRetries = 1;
    rig.Server.Files["/endless"] =
        TTestReply{200, "", "text/plain", [](int fd, const std::atomic<bool>& stopping) {
                       const std::string chunk(1 << 16, 'z');
                       while (!stopping && TTestHttpServer::SendAll(fd, chunk)) {
                       }
                   }};
    EXPECT_FALSE(rig.Run("file " + rig.Server.Url("/endless") + "\n"));
    EXPECT_THAT(rig.Log.back(), HasSubstr("większa niż 64 MB"));
    EXPECT_LE(std::filesystem::file_size(rig.RecvDir + "/endless"), TQmHttpUpdate::kMaxDownloadBytes);
}

namespace {

struct TZipEntry {
    std::string Name;
    std::string Data;
    bool Symlink = false;
};

std::string MakeZip(const std::string& path, const std::vector<TZipEntry>& entries) {
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const TZipEntry& e : entries) {
        zip_source_t* src = zip_source_buffer(z, e.Data.data(), e.Data.size(), 0);
        const zip_int64_t index = zip_file_add(z, e.Name.c_str(), src, ZIP_FL_ENC_UTF_8);
        const zip_uint32_t mode = (e.Symlink ? (S_IFLNK | 0777) : (S_IFREG | 0644));
        zip_file_set_external_attributes(z, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX, mode << 16);
    }
    zip_close(z);
    return ReadWholeFile(path);
}

} // namespace

TEST(UpdateClient, ArchivesStayInTheirFolderAndMakeNoLinks) {
    TUpdateRig rig;
    TTempDir work;
    rig.Server.Serve("/ok.zip",
                     MakeZip(work / "ok.zip", {{"a.txt", "A"}, {"d/b.txt", "B"}, {"ln", "/etc", true}}));
    rig.Server.Serve("/bad.zip",
                     MakeZip(work / "bad.zip", {{"c.txt", "C"}, {"../evil.txt", "E"}, {"/abs", "E"}}));
    std::vector<std::string> extracted;
    rig.Client.OnUnzipEnd = [&](TQmHttpUpdate&, const std::string&, const TStringList& files) {
        extracted = files;
    };
    EXPECT_TRUE(rig.Run("file " + rig.Server.Url("/ok.zip") + "\n"));
    EXPECT_THAT(extracted, ElementsAre(rig.Temp / "unzip/a.txt", rig.Temp / "unzip/d/b.txt"));
    EXPECT_THAT(rig.Log, testing::Contains("Pominięto dowiązanie symboliczne ln"));

    EXPECT_FALSE(rig.Run("file " + rig.Server.Url("/bad.zip") + "\n"));
    EXPECT_EQ(rig.Client.ErrorMsg, "Błąd dekompresji pliku: " + rig.RecvDir + "/bad.zip");
    EXPECT_EQ(TreeOf(rig.Temp.Path()), (std::set<std::string>{"recv/ok.zip", "recv/bad.zip", "unzip/a.txt",
                                                              "unzip/d/b.txt", "unzip/c.txt"}));
}

// Generated reply scripts built from hostile pieces: whatever they say, every file the run leaves
// lies in the receiving or the unpacking folder, no link is made and the file outside is untouched.
TEST(UpdateClient, GeneratedHostileScriptsNeverWriteOutsideTheFolders) {
    TUpdateRig rig;
    TTempDir work;
    rig.Client.MaxRetries = 1;
    rig.Server.Serve("/x", "payload");
    rig.Server.Serve("/a.zip",
                     MakeZip(work / "a.zip", {{"../up.txt", "E"}, {"ok.txt", "O"}, {"l", "/", true}}));
    const std::string outside = rig.Temp.Write("outside.txt", "mine");
    const std::string server = rig.Server.Url("");
    const std::vector<std::string> urls = {server + "/x",
                                           server + "/a.zip",
                                           server + "/dir/",
                                           server + "/..",
                                           server + "/a/../../x",
                                           "x",
                                           "../x",
                                           "/etc/hostname",
                                           "file:///etc/hostname",
                                           server + "/x?n=../../q"};
    const std::vector<std::string> names = {
        "../../evil", "..", ".", "/tmp/abs", "sub/x", "a\\b", "CON", "ok.bin", rig.Temp / "outside.txt",
        "~",          "x:y"};
    const std::string pieces = "a./\\:~ \x01";
    std::mt19937 random(20261209);
    auto pick = [&random](const auto& list) {
        return list[random() % list.size()];
    };
    for (int round = 0; round < 60; ++round) {
        std::string script;
        const int lines = 1 + static_cast<int>(random() % 5);
        for (int l = 0; l < lines; ++l) {
            std::string name = pick(names);
            if (random() % 3 == 0) {
                name.clear();
                for (int n = static_cast<int>(random() % 6); n > 0; --n)
                    name += pieces[random() % pieces.size()];
            }
            switch (random() % 6) {
            case 0:
                script += "file " + pick(urls) + " " + name;
                break;
            case 1:
                script += "FILE " + pick(urls);
                break;
            case 2:
                script += "msgfile " + pick(urls);
                break;
            case 3:
                script += "sourceurl " + pick(urls) + (random() % 2 ? "/" : "");
                break;
            case 4:
                script += "file  " + pick(urls) + "  " + name;
                break;
            default:
                script += "msg " + name;
                break;
            }
            script += random() % 2 ? "\r\n" : "\n";
        }
        rig.Run(script);
        for (const std::string& path : TreeOf(rig.Temp.Path())) {
            EXPECT_TRUE(path == "outside.txt" || path.starts_with("recv/") || path.starts_with("unzip/"))
                << path << " after:\n"
                << script;
            EXPECT_FALSE(std::filesystem::is_symlink(rig.Temp / path)) << path << " after:\n" << script;
        }
        ASSERT_EQ(ReadWholeFile(outside), "mine") << script;
    }
}

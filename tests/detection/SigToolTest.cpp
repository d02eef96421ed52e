// Runs the built qmvardel-sig on a small tree: the shipped test file and one ordinary file.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace {

struct TRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

TRun RunTool(const TTempDir& box, const std::string& args) {
    const std::string out = box / "out.txt";
    const std::string err = box / "err.txt";
    // Appended piece by piece: GCC 12 warns falsely about a long operator+ chain once inlined.
    std::string cmd = "'";
    for (const std::string& piece :
         {std::string(QM_TEST_BIN_DIR), std::string("/qmvardel-sig' "), args, std::string(" >'"), out,
          std::string("' 2>'"), err, std::string("' </dev/null")})
        cmd += piece;
    const int status = std::system(cmd.c_str());
    TRun run;
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = ReadWholeFile(out);
    run.Err = ReadWholeFile(err);
    return run;
}

std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

} // namespace

TEST(SigTool, ExitCodesAndOutputOnASmallTree) {
    TTempDir box;
    const std::string resources = std::string(QM_TEST_SOURCE_DIR) + "/resources/";
    const std::string testFile =
        box.Write("tree/sub/qmvardel-test.sh", ReadWholeFile(resources + "qmvardel-test.sh"));
    const std::string ordinary = box.Write("tree/ordinary.txt", std::string(4096, 'o'));
    const std::string tree = Quote(box / "tree");
    const std::string T = Quote(testFile);
    const std::string O = Quote(ordinary);
    const std::string missing = Quote(box / "tree/missing");
    const std::string fingerprint = "4096-2165636AB36E706E652E2E652E2E2E2E0A";
    std::string ordinaryFingerprint = "4096-"; // 'o' is 6F at every sampled offset
    for (int i = 0; i < 17; ++i)
        ordinaryFingerprint += "6F";
    const std::string db = Quote(box.Write("db/Sygn.ini", "[3.2]\r\n" + fingerprint + "\r\nfoo\r\n" +
                                                              "4096-" + std::string(34, '0') + "\r\n"));
    const std::string opt = "--db " + db + " ";
    std::error_code ec;
    std::filesystem::resize_file(box.Write("big/huge.bin", ""), 1ull << 31, ec);
    const std::string huge = ec ? T + " " + missing : Quote(box / "big/huge.bin");

    struct Row {
        std::string args;
        int exitCode;
        std::string out; // the whole standard output, unless outContains is set
        bool outContains = false;
    } rows[] = {
        {"fingerprint " + T, 0, fingerprint + "\n"},
        {"fingerprint " + T + " " + O, 0, fingerprint + "\n" + ordinaryFingerprint + "\n"},
        {"fingerprint " + T + " " + missing, 2, fingerprint + "\n"},
        {"fingerprint " + tree, 2, ""},
        {"fingerprint " + huge, 2, ec ? fingerprint + "\n" : ""}, // 2 GiB: a line that could never match
        {"fingerprint", 2, ""},
        {"check " + opt + O, 0, ""},
        {"check " + opt + T + " " + O, 1, testFile + "\n"},
        {"check " + opt + tree, 1, testFile + "\n"},
        {"check " + tree + " --db=" + db, 1, testFile + "\n"},
        {"check " + opt + O + " " + missing, 2, ""},
        {"check " + opt + T + " " + missing, 2, testFile + "\n"},
        {"check --db " + Quote(box / "none.ini") + " " + T, 2, ""},
        {"check " + T, 1, testFile + "\n"}, // the starter database beside the program
        {"check " + opt, 2, ""},
        {"check --bogus " + T, 2, ""},
        {"info " + opt, 0, "Baza: " + (box / "db/Sygn.ini") + "\nWersja: 3.2\nData: ", true},
        {"info " + opt, 0, "Sygnatury: 3\nRóżne rozmiary: 2\nBłędne wiersze: 1\n  wiersz 3: ", true},
        {"--help", 0, "fingerprint PLIK...", true},
        {"check --help", 0, "--db ŚCIEŻKA", true},
        {"frob", 2, ""},
        {"", 2, ""},
    };
    for (const Row& r : rows) {
        const TRun run = RunTool(box, r.args);
        EXPECT_EQ(run.ExitCode, r.exitCode) << r.args << "\n" << run.Err;
        if (r.outContains) {
            EXPECT_NE(run.Out.find(r.out), std::string::npos) << r.args << "\n" << run.Out;
        } else {
            EXPECT_EQ(run.Out, r.out) << r.args;
        }
        if (r.exitCode == 2) {
            EXPECT_NE(run.Err, "") << r.args << ": an error says why";
        }
    }
}

TEST(SigTool, KeysSignaturesAndTheSignatureStateOfADatabase) {
    TTempDir box;
    const std::string priv = box / "signing.pem";
    const std::string pub = box / "db/Sygn.pub";
    std::filesystem::create_directories(box / "db");
    const std::string db =
        Quote(box.Write("db/Sygn.ini", "[4.0]\r\n2000-4D5A90000300000004000000FFFF0000B8\r\n"));
    EXPECT_NE(RunTool(box, "info --db " + db).Out.find("Podpis: brak klucza publicznego"), std::string::npos);

    ASSERT_EQ(RunTool(box, "keygen " + Quote(priv) + " " + Quote(pub)).ExitCode, 0);
    EXPECT_EQ(std::filesystem::status(priv).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(RunTool(box, "keygen " + Quote(priv) + " " + Quote(box / "other.pub")).ExitCode, 2)
        << "an existing key is never overwritten";
    EXPECT_NE(RunTool(box, "info --db " + db).Out.find("Podpis: brak pliku podpisu"), std::string::npos);

    ASSERT_EQ(RunTool(box, "sign --key " + Quote(priv) + " " + db).ExitCode, 0);
    const std::string key = "--key " + Quote(pub) + " ";
    EXPECT_EQ(RunTool(box, "verify " + key + db).ExitCode, 0);
    EXPECT_NE(RunTool(box, "info --db " + db).Out.find("Podpis: prawidłowy"), std::string::npos);

    std::ofstream(box / "db/Sygn.ini", std::ios::app) << "2001-4D5A90000300000004000000FFFF0000B8\r\n";
    const TRun changed = RunTool(box, "verify " + key + db);
    EXPECT_EQ(changed.ExitCode, 1);
    EXPECT_NE(changed.Out.find("podpis nieprawidłowy"), std::string::npos);
    EXPECT_NE(RunTool(box, "info --db " + db).Out.find("Podpis: nieprawidłowy"), std::string::npos);
    EXPECT_EQ(RunTool(box, "verify " + key + "--sig " + Quote(box / "none.sig") + " " + db).ExitCode, 2);
}

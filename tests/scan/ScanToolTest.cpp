// Runs the built qmvardel-scan over small trees with the starter database beside it, whose
// fingerprints include the shipped harmless test file.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>

namespace {

struct TRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

std::string Quote(const std::string& path) {
    std::string quoted = "'";
    quoted += path;
    quoted += '\'';
    return quoted;
}

TRun RunScan(const TTempDir& box, const std::string& args) {
    const std::string out = box / "out.txt";
    const std::string err = box / "err.txt";
    const std::string cmd = "'" + std::string(QM_TEST_BIN_DIR) + "/qmvardel-scan' " + args + " >'" + out +
                            "' 2>'" + err + "' </dev/null";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(out), ReadWholeFile(err)};
}

} // namespace

TEST(ScanTool, ExitCodesOutputAndErrors) {
    TTempDir box;
    const std::string sample = ReadWholeFile(std::string(QM_TEST_BIN_DIR) + "/qmvardel-test.sh");
    ASSERT_FALSE(sample.empty());
    const std::string dialer = box.Write("dirty/.cache/setup.exe", sample);
    box.Write("dirty/readme.txt", sample); // no mask, no execute bit: never looked at
    box.Write("clean/tool.exe", "harmless");
    const std::string dirty = Quote(box / "dirty");
    const std::string clean = Quote(box / "clean");

    struct TCase {
        std::string Args;
        int Exit;
        std::string Out;     // exact stdout, or its start when ending with "*"
        std::string ErrPart; // must occur in stderr
    } cases[] = {
        {"--quiet " + dirty, 1, dialer + "\n", ""},
        {dirty, 1, dialer + "\nFolderów: 2, przejrzanych plików: 3, znalezionych dialerów: 1, czas: *", ""},
        {"--quiet " + clean, 0, "", ""},
        {"--quiet --db " + Quote(box / "none.ini") + " " + clean, 2, "", "brak bazy sygnatur"},
        {"--quiet " + dirty + " " + Quote(box / "missing"), 2, dialer + "\n", "nie ma takiego pliku"},
        {"--remove " + dirty, 2, "", "nie jest dostępne"},
        {"--bogus", 2, "", "nieznana opcja"},
        {"--help", 0, "Użycie: qmvardel-scan*", ""},
    };
    for (const TCase& c : cases) {
        const TRun run = RunScan(box, c.Args);
        EXPECT_EQ(run.ExitCode, c.Exit) << c.Args << "\n" << run.Err;
        if (c.Out.ends_with('*'))
            EXPECT_TRUE(run.Out.starts_with(c.Out.substr(0, c.Out.size() - 1))) << c.Args << "\n" << run.Out;
        else
            EXPECT_EQ(run.Out, c.Out) << c.Args;
        EXPECT_NE(run.Err.find(c.ErrPart), std::string::npos) << c.Args << "\n" << run.Err;
        // Not a terminal: no progress lines.
        EXPECT_EQ(run.Err.find('\r'), std::string::npos) << c.Args;
    }
}

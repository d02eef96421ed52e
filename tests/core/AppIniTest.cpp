#include "core/uAppIni.h"
#include "fakes/FakePorts.h"
#include "platform/linux/uLinuxPlatform.h"
#include "support/TempDir.h"
#include "util/uQmError.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

class AppIniTest : public ::testing::Test {
protected:
    TTempDir Dir;
    TLinuxFileSystem Fs;
    std::string Path = Dir / "QmVardel.ini";
    TAppIni Ini{Path, Fs};
};

TEST_F(AppIniTest, ReadsValuesAsTheProfileFunctionsDo) {
    Dir.Write("QmVardel.ini", "[MAIN]\n"
                              "skin=0x2\n"
                              "hex=$1F\n"
                              "bad=abc\n"
                              "spaced =  42  \n"
                              "quoted=\"7\"\n"
                              "flag5=5\n"
                              "flag0=0\n"
                              "neg=-3\n"
                              "huge=99999999999\n"
                              "empty=\n"
                              "; comment=9\n"
                              "[other]\n"
                              "skin=3\n");
    struct Row {
        const char* key;
        int def;
        int expected;
    } rows[] = {{"skin", 0, 2},    {"SKIN", 0, 2},   {"hex", 0, 31},     {"bad", 0, 0},
                {"spaced", 0, 42}, {"quoted", 0, 7}, {"missing", 9, 9},  {"neg", 0, -3},
                {"huge", 4, 4},    {"empty", 6, 6},  {"; comment", 1, 1}};
    for (const Row& r : rows)
        EXPECT_EQ(Ini.ReadInt(r.key, r.def, "main"), r.expected) << r.key;
    EXPECT_TRUE(Ini.ReadBool("flag5", false, "main"));
    EXPECT_FALSE(Ini.ReadBool("flag0", true, "main"));
    EXPECT_TRUE(Ini.ReadBool("missing", true, "main"));
    EXPECT_EQ(Ini.ReadInt("skin", 0, "Other"), 3);
}

TEST_F(AppIniTest, MissingFileReadsDefaultsAndFirstWriteCreatesIt) {
    EXPECT_EQ(Ini.ReadInt("scan_frequency", 2, "main"), 2);
    std::vector<std::string> list{"x"};
    Ini.ReadList("allowed_connections", list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(Fs.FileExists(Path));
    Ini.WriteBool("first_run_flg", false, "main");
    EXPECT_EQ(Dir.Read("QmVardel.ini"), "[main]\nfirst_run_flg=0\n");
}

TEST_F(AppIniTest, ListsKeepFileOrderAndWholeSectionRewrite) {
    Dir.Write("QmVardel.ini", "[allowed_connections]\r\na=0800\r\nzz=0700\r\nq=x=y\r\n");
    std::vector<std::string> list;
    Ini.ReadList("allowed_connections", list);
    EXPECT_EQ(list, (std::vector<std::string>{"0800", "0700", "x=y"}));

    Ini.WriteList("allowed_connections", {"1", "2", "3", "4", "5"});
    Ini.WriteList("allowed_connections", {"a", "b", "c"});
    EXPECT_EQ(Dir.Read("QmVardel.ini"), "[allowed_connections]\r\n0=a\r\n1=b\r\n2=c\r\n");
    Ini.EraseSection("ALLOWED_connections");
    Ini.ReadList("allowed_connections", list);
    EXPECT_TRUE(list.empty());
}

TEST_F(AppIniTest, WriteFloatWritesWholeValuesWithoutFraction) {
    Ini.WriteFloat("last_scan", "main", 46000.0);
    Ini.WriteFloat("ratio", "main", 0.25);
    EXPECT_EQ(Dir.Read("QmVardel.ini"), "[main]\nlast_scan=46000\nratio=0.25\n");
    EXPECT_EQ(Ini.ReadInt("last_scan", 0, "main"), 46000);
}

TEST_F(AppIniTest, HandEditedFileKeepsUnrelatedContentOverAHundredWrites) {
    const std::string original = "; QmVardel settings, edited by hand\n"
                                 "\n"
                                 "  [Main]  \n"
                                 "  Skin = 1\n"
                                 "; keep this comment\n"
                                 "sound_effect=0\n"
                                 "\n"
                                 "[user notes]\n"
                                 "note=Zażółć gęślą jaźń, +48 22 123\n"
                                 "odd line without equals\n"
                                 "\n"
                                 "[Day_Statistics]\n"
                                 "time_0202=5\n";
    Dir.Write("QmVardel.ini", original);
    for (int i = 0; i < 100; ++i) {
        Ini.WriteInt("scan_frequency", i % 4, "main");
        Ini.WriteInt("time_0202", i, "day_statistics");
    }
    const std::string after = Dir.Read("QmVardel.ini");
    EXPECT_EQ(after, "; QmVardel settings, edited by hand\n"
                     "\n"
                     "  [Main]  \n"
                     "  Skin = 1\n"
                     "; keep this comment\n"
                     "sound_effect=0\n"
                     "scan_frequency=3\n"
                     "\n"
                     "[user notes]\n"
                     "note=Zażółć gęślą jaźń, +48 22 123\n"
                     "odd line without equals\n"
                     "\n"
                     "[Day_Statistics]\n"
                     "time_0202=99\n");
    EXPECT_EQ(Ini.ReadInt("skin", 0, "main"), 1);
}

TEST_F(AppIniTest, SeesChangesMadeByAnotherProgram) {
    Ini.WriteInt("skin", 1, "main");
    EXPECT_EQ(Ini.ReadInt("skin", 0, "main"), 1);
    Dir.Write("QmVardel.ini", "[main]\nskin=2\nextra=1\n");
    EXPECT_EQ(Ini.ReadInt("skin", 0, "main"), 2);
    Ini.WriteInt("childmode", 1, "main");
    EXPECT_EQ(Dir.Read("QmVardel.ini"), "[main]\nskin=2\nextra=1\nchildmode=1\n");
}

TEST_F(AppIniTest, HostileKeysAndValuesNeverAddALineSectionOrKey) {
    Dir.Write("QmVardel.ini", "[main]\nskin=1\n");
    const std::string hostile[] = {
        "0700\r\n[main]\r\nskin=3",
        "a\nb",
        std::string("nul\0inside", 10),
        "  padded  ",
        "\"quoted\"",
        "\\e:looks escaped",
        "=",
        "[x]",
        "tab\there",
        "trailing\r",
    };
    std::size_t i = 0;
    for (const std::string& text : hostile) {
        const std::string key = "time_" + text;
        Ini.WriteInt(key, static_cast<int>(i), "day_statistics");
        Ini.WriteString("v" + std::to_string(i), text, "notes");
        EXPECT_EQ(Ini.ReadInt(key, -1, "day_statistics"), static_cast<int>(i)) << i;
        EXPECT_EQ(Ini.ReadString("v" + std::to_string(i), "", "notes"), text) << i;
        ++i;
    }
    // Ten keys in each of two new sections, and main untouched: 1 + 1 + 2 + 20 lines.
    const std::string content = Dir.Read("QmVardel.ini");
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 24);
    EXPECT_EQ(Ini.ReadInt("skin", 0, "main"), 1);
    std::vector<std::string> values;
    Ini.ReadList("notes", values);
    EXPECT_EQ(values.size(), std::size(hostile));
    // The section names are the program's own: a broken one is refused, not written.
    EXPECT_THROW(Ini.WriteInt("k", 1, "a]\n[main"), EQmError);
    EXPECT_EQ(Dir.Read("QmVardel.ini"), content);
}

TEST_F(AppIniTest, OrdinaryValuesAreWrittenByteForByte) {
    for (const char* v : {"020 21 22", "+48 22 123 45 67", "0,20", "Łódź żółw", "a=b", "x\"y"})
        EXPECT_EQ(TAppIni::EncodeValue(v), v);
    for (const char* k : {"time_020 21 22", "concount_+48", "0"})
        EXPECT_EQ(TAppIni::EncodeKey(k), k);
}

TEST_F(AppIniTest, Windows1250FileReadsWithPolishLetters) {
    // "Łódź" and "gęś" in Windows-1250.
    Dir.Write("QmVardel.ini", "[allowed_connections]\r\n0=\xA3\xF3"
                              "d\x9F\r\n1=g\xEA\x9C\r\n");
    std::vector<std::string> list;
    Ini.ReadList("allowed_connections", list);
    EXPECT_EQ(list, (std::vector<std::string>{"Łódź", "gęś"}));
}

TEST_F(AppIniTest, GroupedWritesReachTheFileOnceAndAllOrNothing) {
    TFakeFileSystem fake;
    TAppIni ini("/p/QmVardel.ini", fake);
    {
        TAppIniUpdate update(ini);
        ini.WriteInt("time_0202", 1, "day_statistics");
        ini.WriteInt("time_0202", 2, "week_statistics");
        EXPECT_EQ(ini.ReadInt("time_0202", 0, "week_statistics"), 2);
        EXPECT_EQ(fake.Replacements, 0);
    }
    EXPECT_EQ(fake.Replacements, 1);
    fake.ReadOnlyDirs.insert("/p/");
    auto refused = [&] {
        TAppIniUpdate update(ini);
        ini.WriteInt("time_0202", 7, "day_statistics");
        ini.WriteInt("time_0202", 7, "week_statistics");
    };
    EXPECT_THROW(refused(), EQmError);
    EXPECT_EQ(ini.ReadInt("time_0202", 0, "day_statistics"), 1);
    EXPECT_EQ(ini.ReadInt("time_0202", 0, "week_statistics"), 2);
}

// Makes a folder refuse writes: immutable for root (who ignores permission bits), read-only else.
bool MakeFolderRefuseWrites(const std::string& dir, bool refuse) {
    if (::geteuid() != 0)
        return ::chmod(dir.c_str(), refuse ? 0555 : 0755) == 0;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = refuse ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

TEST_F(AppIniTest, RefusedWriteRaisesAndLosesNothing) {
    const std::string original = "[main]\nskin=1\n[allowed_connections]\n0=0202\n";
    Dir.Write("QmVardel.ini", original);
    EXPECT_EQ(Ini.ReadInt("skin", 0, "main"), 1);
    if (!MakeFolderRefuseWrites(Dir.Path(), true))
        GTEST_SKIP() << "this file system cannot make a folder refuse writes";
    try {
        Ini.WriteInt("skin", 2, "main");
        ADD_FAILURE() << "the write did not raise";
    } catch (const EQmError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path);
    }
    EXPECT_THROW(Ini.WriteList("allowed_connections", {}), EQmError);
    MakeFolderRefuseWrites(Dir.Path(), false);
    EXPECT_EQ(Dir.Read("QmVardel.ini"), original);
    EXPECT_EQ(Ini.ReadInt("skin", 0, "main"), 1);
    std::vector<std::string> list;
    Ini.ReadList("allowed_connections", list);
    EXPECT_EQ(list, std::vector<std::string>{"0202"});
}

} // namespace

#include "core/uAppIni.h"
#include "fakes/FakePorts.h"
#include "platform/linux/uLinuxPlatform.h"
#include "support/TempDir.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uQmError.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

// "v" and the number; built without the operator+ that GCC 12 falsely warns about.
std::string ValueKey(std::size_t i) {
    std::string key = "v";
    key += std::to_string(i);
    return key;
}

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
        Ini.WriteString(ValueKey(i), text, "notes");
        EXPECT_EQ(Ini.ReadInt(key, -1, "day_statistics"), static_cast<int>(i)) << i;
        EXPECT_EQ(Ini.ReadString(ValueKey(i), "", "notes"), text) << i;
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

// Regression rows of the fuzzing rounds: each once misbehaved.
TEST_F(AppIniTest, ExtremeNumbersAndForeignBytesRoundTrip) {
    Dir.Write("QmVardel.ini", "[main]\n"
                              "a=-0x80000000\n"
                              "b=-9223372036854775808\n"
                              "c=-2147483648\n"
                              "d=2147483648\n"
                              "e=-$1\n"
                              "f=18446744073709551616\n"
                              "[user notes]\n"
                              "note=Łódź\n");
    struct Row {
        const char* key;
        int expected;
    } rows[] = {{"a", INT_MIN}, {"b", 7}, {"c", INT_MIN}, {"d", 7}, {"e", -1}, {"f", 7}};
    for (const Row& r : rows)
        EXPECT_EQ(Ini.ReadInt(r.key, 7, "main"), r.expected) << r.key;

    // Bytes that are not UTF-8 are escaped, so the file stays UTF-8 and every byte comes back.
    const std::string foreign[] = {"\xFF",
                                   "a\xC3",
                                   "\xE2\x82",
                                   "\xED\xA0\x80",
                                   "\xC0\xAF",
                                   "ok\xA3\xF3"
                                   "d\x9F"};
    for (std::size_t i = 0; i < std::size(foreign); ++i) {
        Ini.WriteString(ValueKey(i), foreign[i], "user notes");
        Ini.WriteInt("k" + foreign[i], static_cast<int>(i), "user notes");
    }
    EXPECT_THROW(Ini.WriteInt("k", 1, "sekcja\xFF"), EQmError);
    TAppIni fresh(Path, Fs);
    for (std::size_t i = 0; i < std::size(foreign); ++i) {
        EXPECT_EQ(fresh.ReadString(ValueKey(i), "", "user notes"), foreign[i]) << i;
        EXPECT_EQ(fresh.ReadInt("k" + foreign[i], -1, "user notes"), static_cast<int>(i)) << i;
    }
    EXPECT_EQ(fresh.ReadString("note", "", "user notes"), "Łódź");
    EXPECT_TRUE(qm::IsValidUtf8(Dir.Read("QmVardel.ini")));
}

TEST_F(AppIniTest, MixedFileKeepsItsUtf8AndWindows1250LinesOverAHundredWrites) {
    // One stray Windows-1250 line ("gęś") in a UTF-8 file with CR LF line ends.
    const std::string head = "[user notes]\r\nnote=Zażółć gęślą jaźń\r\nold=g\xEA\x9C\r\n[main]\r\n";
    Dir.Write("QmVardel.ini", head + "skin=1\r\n");
    for (int i = 0; i < 100; ++i) {
        Ini.WriteInt("skin", i % 4, "main");
        Ini.WriteString("nowy", i % 2 ? "źdźbło" : "łąka", "main");
    }
    EXPECT_EQ(Dir.Read("QmVardel.ini"), head + "skin=3\r\nnowy=źdźbło\r\n");
    EXPECT_EQ(Ini.ReadString("note", "", "user notes"), "Zażółć gęślą jaźń");
    EXPECT_EQ(Ini.ReadString("old", "", "user notes"), "gęś");
}

std::string Utf16(const std::string& utf8, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t u : qm::Utf8ToUtf16(utf8)) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

TEST_F(AppIniTest, Utf16FileKeepsItsSettingsEncodingAndLineEnds) {
    for (const bool bigEndian : {false, true}) {
        const std::string text = "[main]\r\nchildmode=1\r\n[allowed_connections]\r\n0=0202122\r\n"
                                 "[user notes]\r\nnote=Łódź 😀\r\n";
        Dir.Write("QmVardel.ini", Utf16(text, bigEndian));
        TAppIni ini(Path, Fs);
        EXPECT_TRUE(ini.ReadBool("first_run_flg", true, "main")) << "a missing key keeps its default";
        EXPECT_TRUE(ini.ReadBool("childmode", false, "main"));
        std::vector<std::string> list;
        ini.ReadList("allowed_connections", list);
        EXPECT_EQ(list, std::vector<std::string>{"0202122"});
        ini.WriteBool("first_run_flg", false, "main");
        ini.WriteList("allowed_connections", {"0202122", "0700"});
        EXPECT_EQ(Dir.Read("QmVardel.ini"),
                  Utf16("[main]\r\nchildmode=1\r\nfirst_run_flg=0\r\n[user notes]\r\nnote=Łódź 😀\r\n"
                        "[allowed_connections]\r\n0=0202122\r\n1=0700\r\n",
                        bigEndian))
            << bigEndian;
        EXPECT_EQ(TAppIni(Path, Fs).ReadString("note", "", "user notes"), "Łódź 😀");
    }
    // A stray odd byte at the end is dropped when a line follows it, so no line shifts by a byte.
    Dir.Write("QmVardel.ini", Utf16("[main]\r\nskin=1", false) + "\x01");
    TAppIni odd(Path, Fs);
    odd.WriteInt("childmode", 1, "main");
    EXPECT_EQ(Dir.Read("QmVardel.ini"), Utf16("[main]\r\nskin=1\r\nchildmode=1\r\n", false));
}

TEST_F(AppIniTest, WritingWhatTheFileHoldsLeavesItUntouched) {
    Dir.Write("QmVardel.ini", "[Main]\nScan_Frequency = 2\nchildmode=\"1\"\n[allowed_connections]\n0=0202\n");
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path.c_str(), old, 0), 0);
    struct stat before {};
    ::stat(Path.c_str(), &before);
    Ini.WriteInt("scan_frequency", 2, "main");
    Ini.WriteBool("childmode", true, "main");
    Ini.WriteList("allowed_connections", {"0202"});
    Ini.EraseSection("no such section");
    struct stat after {};
    ::stat(Path.c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(AppIniTest, ReadOnlyFileRaisesAndKeepsItsBytes) {
    const std::string original = "[main]\nchildmode=1\n";
    Dir.Write("QmVardel.ini", original);
    ASSERT_EQ(::chmod(Path.c_str(), 0444), 0);
    try {
        Ini.WriteBool("childmode", false, "main");
        ADD_FAILURE() << "the write did not raise";
    } catch (const EQmError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path);
    }
    EXPECT_EQ(Dir.Read("QmVardel.ini"), original);
    // What the window shows after the refusal comes from here: the file's value.
    EXPECT_TRUE(Ini.ReadBool("childmode", false, "main"));
    struct stat st {};
    ::stat(Path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(AppIniTest, SymbolicLinkIsWrittenThroughAndKeepsModeAndOwner) {
    namespace fs = std::filesystem;
    const std::string target = Dir.Write("real/QmVardel.ini", "[main]\nskin=1\n");
    fs::create_directories(Dir / "prog");
    const std::string link = Dir / "prog/QmVardel.ini";
    fs::create_symlink("../real/QmVardel.ini", link);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), 1234, 2345), 0);
    }
    TAppIni ini(link, Fs);
    ini.WriteInt("skin", 3, "main");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), "../real/QmVardel.ini");
    EXPECT_EQ(ReadWholeFile(target), "[main]\nskin=3\n");
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 2345u);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir / "real"), fs::directory_iterator()), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir / "prog"), fs::directory_iterator()), 1);
}

} // namespace

#include "detection/uSygnatureManager.h"
#include "fakes/FakePorts.h"
#include "platform/linux/uLinuxPlatform.h"
#include "support/TempDir.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uQmError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

const std::string kDb = "/opt/qmvardel/Sygn.ini";
const std::string kExe = "/opt/qmvardel/QmVardel";

std::string Dashes(int codes) {
    return std::string(static_cast<std::size_t>(2 * codes), '-');
}

// 1501 bytes of '.', with marks at offsets 1, 700 and 1500 (0x2E is '.').
std::string MarkedFile(std::size_t size) {
    std::string s(size, '.');
    s[1] = 'B';
    s[700] = '\xFF';
    s[size - 1] = 'Z';
    return s;
}

std::string Repeat(const std::string& code, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += code;
    return s;
}

// Counts what the manager asks of the file system, and can make a file change under a reader.
class TCountingFileSystem : public TFakeFileSystem {
public:
    mutable int Opens = 0;
    mutable int ByteReads = 0;
    bool FailReadAll = false;
    // Applied to the file's content when it is opened (after the size test), and right after the
    // reader has taken the end position.
    std::function<void(std::string&)> OnOpen;
    std::function<void(std::string&)> AfterSeekEnd;

    mutable int MetadataReads = 0;

    std::optional<std::uint64_t> FileSize(const std::string& path) const override {
        ++MetadataReads;
        return TFakeFileSystem::FileSize(path);
    }
    bool FileExists(const std::string& path) const override {
        ++MetadataReads;
        return TFakeFileSystem::FileExists(path);
    }
    std::optional<TFileStamp> Stamp(const std::string& path) const override {
        ++MetadataReads;
        return TFakeFileSystem::Stamp(path);
    }
    std::unique_ptr<IReadFile> OpenRead(const std::string& path) const override {
        ++Opens;
        auto* fs = const_cast<TCountingFileSystem*>(this);
        if (OnOpen && fs->Files.count(path))
            OnOpen(fs->Files[path].Content);
        auto inner = TFakeFileSystem::OpenRead(path);
        if (!inner)
            return nullptr;
        auto* self = const_cast<TCountingFileSystem*>(this);
        return std::make_unique<TReader>(std::move(inner), *self, self->Files[path].Content);
    }
    std::optional<std::string> ReadAll(const std::string& path) const override {
        if (FailReadAll)
            return std::nullopt;
        return TFakeFileSystem::ReadAll(path);
    }

private:
    class TReader : public IReadFile {
    public:
        TReader(std::unique_ptr<IReadFile> inner, TCountingFileSystem& fs, std::string& content)
            : FInner(std::move(inner)), FFs(fs), FContent(content) {}
        std::int64_t SeekEnd() override {
            const std::int64_t end = FInner->SeekEnd();
            if (FFs.AfterSeekEnd)
                FFs.AfterSeekEnd(FContent);
            return end;
        }
        std::optional<std::uint8_t> ReadByteAt(std::int64_t offset) override {
            ++FFs.ByteReads;
            return FInner->ReadByteAt(offset);
        }

    private:
        std::unique_ptr<IReadFile> FInner;
        TCountingFileSystem& FFs;
        std::string& FContent;
    };
};

} // namespace

// The same rows against the in-memory fake and against real files through the Linux port.
TEST(FileFingerprint, SamplesSeventeenBytesOnFakeAndRealFiles) {
    struct Row {
        std::string content;
        std::string expected;
    } rows[] = {
        {"abc", "3-62------------------------------63"},
        {"", "0-" + Dashes(17)},
        {"x", "1-" + Dashes(16) + "78"},
        {MarkedFile(1501), "1501-42" + Repeat("2E", 6) + "FF" + Repeat("2E", 7) + "5A" + "5A"},
        {MarkedFile(1500), "1500-42" + Repeat("2E", 6) + "FF" + Repeat("2E", 7) + "--" + "5A"},
        {std::string(101, '\x0a'), "101-0A0A" + Dashes(14) + "0A"},
    };
    TTempDir box;
    TLinuxFileSystem linuxFs;
    TFakeFileSystem fake;
    for (const Row& r : rows) {
        fake.Put("/f", r.content);
        EXPECT_EQ(qm::FileFingerprint(fake, "/f"), r.expected);
        EXPECT_EQ(qm::FileFingerprint(linuxFs, box.Write("f", r.content)), r.expected);
    }
    EXPECT_EQ(qm::FileFingerprint(fake, "/missing"), "");
    EXPECT_EQ(qm::FileFingerprint(linuxFs, box / "missing"), "");
    EXPECT_EQ(qm::FileFingerprint(linuxFs, box / ""), "") << "a folder has no fingerprint";
}

TEST(SygnatureManager, LoadsVersionLinesAndSizeFields) {
    struct Row {
        const char* name;
        std::string text;
        std::string version;
        std::vector<std::string> lines;
        std::vector<std::string> sizes;
    } rows[] = {
        {"no version line",
         "3-62------------------------------63\r\n",
         "1.0",
         {"3-62------------------------------63"},
         {"3"}},
        {"version 2.0 with one signature",
         "[2.0]\r\n45056-" + Repeat("00", 17) + "\r\n",
         "2.0",
         {"45056-" + Repeat("00", 17)},
         {"45056"}},
        {"empty file", "", "1.0", {}, {}},
        {"bare bracket", "[", "", {}, {}},
        {"every line break kind, blanks kept",
         "a\rb\nc\r\n\r\n d ",
         "1.0",
         {"a", "b", "c", "", " d "},
         {"", " d ", "a", "b", "c"}},
        {"sizes sorted as text, duplicates and letter case folded",
         "3-x\n10-y\n3-z\n1a-q\n1A-r",
         "1.0",
         {"3-x", "10-y", "3-z", "1a-q", "1A-r"},
         {"10", "1a", "3"}},
        {"BOM before the version line", "\xEF\xBB\xBF[3.1]\n5-", "3.1", {"5-"}, {"5"}},
        {"Windows-1250 text", "[wersja \xB9]\n", "wersja \xC4\x85", {}, {}},
        {"version line only first", "1-\n[2.0]", "1.0", {"1-", "[2.0]"}, {"1", "[2.0]"}},
    };
    for (const Row& r : rows) {
        TFakeFileSystem fs;
        fs.Put(kDb, r.text);
        TSygnatureManager db(kDb, fs, kExe);
        EXPECT_EQ(db.Version(), r.version) << r.name;
        EXPECT_EQ(db.Lines().ToVector(), r.lines) << r.name;
        EXPECT_EQ(db.SizeIndex().ToVector(), r.sizes) << r.name;
        EXPECT_EQ(db.LoadError(), "") << r.name;
    }
}

TEST(SygnatureManager, RecognisesOnlyExactFingerprintsWithoutLetterCase) {
    const std::string dialer = MarkedFile(45056);
    TFakeFileSystem fs;
    TSygnatureManager probe(kDb, fs, kExe);
    fs.Put("/d", dialer);
    const std::string upper = probe.FileFingerprint("/d");
    std::string lower = upper;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_NE(lower, upper);

    std::string sampledChanged = dialer;
    sampledChanged[200] = '!';
    std::string betweenChanged = dialer;
    betweenChanged[250] = '!';
    betweenChanged[1501] = '!';
    struct Row {
        const char* name;
        std::string dbLine;
        std::string file;
        bool dialer;
    } rows[] = {
        {"same file", upper, dialer, true},
        {"lower-case hex in the database", lower, dialer, true},
        {"one sampled byte differs", upper, sampledChanged, false},
        {"bytes between sampled offsets do not matter", upper, betweenChanged, true},
        {"no trimming of the line", upper + " ", dialer, false},
        {"size matches, shorter line", upper.substr(0, upper.size() - 2), dialer, false},
        {"length not a size field", upper, dialer + "x", false},
        // Repeated lines once shared one probe run, making load and lookup quadratic.
        {"behind runs of empty lines and case variants",
         std::string(3000, '\n') + Repeat(lower + "\n", 300) + upper, dialer, true},
        {"only case variants of another file's line", Repeat(lower + "\n", 300), sampledChanged, false},
    };
    for (const Row& r : rows) {
        fs.Put(kDb, "[1.5]\r\n1-" + Dashes(17) + "\r\n" + r.dbLine + "\r\n");
        fs.Put("/f", r.file);
        TSygnatureManager db(kDb, fs, kExe);
        EXPECT_EQ(db.IsDialer("/f"), r.dialer) << r.name;
    }
    TSygnatureManager db(kDb, fs, kExe);
    EXPECT_FALSE(db.IsDialer("/missing"));
}

TEST(SygnatureManager, TestsTheSizeBeforeOpeningAndReadsAtMostSeventeenBytes) {
    TCountingFileSystem fs;
    const std::string dialer = MarkedFile(45056);
    fs.Put("/d", dialer);
    fs.Put(kDb, qm::FileFingerprint(fs, "/d") + "\r\n");
    TSygnatureManager db(kDb, fs, kExe);
    fs.Opens = fs.ByteReads = fs.MetadataReads = 0;

    fs.Put("/other", std::string(45057, '.'));
    EXPECT_FALSE(db.IsDialer("/other"));
    EXPECT_EQ(fs.Opens, 0);
    EXPECT_EQ(fs.MetadataReads, 1);

    EXPECT_TRUE(db.IsDialer("/d"));
    EXPECT_EQ(fs.Opens, 1);
    EXPECT_EQ(fs.ByteReads, 17);
}

TEST(SygnatureManager, FileChangingUnderTheFingerprintNeverMatchesOrReadsOutOfBounds) {
    TCountingFileSystem fs;
    const std::string dialer = MarkedFile(2000);
    fs.Put("/d", dialer);
    fs.Put(kDb, qm::FileFingerprint(fs, "/d") + "\r\n");
    TSygnatureManager db(kDb, fs, kExe);

    // Shrinks after the end was taken: the bytes that are gone read as "--".
    fs.AfterSeekEnd = [](std::string& content) {
        content.resize(150);
    };
    EXPECT_FALSE(db.IsDialer("/d"));
    fs.Put("/d", dialer);
    EXPECT_EQ(db.FileFingerprint("/d"), "2000-422E" + Dashes(15));

    fs.AfterSeekEnd = [](std::string& content) {
        content.clear();
    };
    fs.Put("/d", dialer);
    EXPECT_EQ(db.FileFingerprint("/d"), "2000-" + Dashes(17));
    fs.AfterSeekEnd = nullptr;

    // Grows or shrinks between the size test and the open: the fingerprint is of what was opened.
    for (const auto& change : {std::function<void(std::string&)>([](std::string& c) { c += "xyz"; }),
                               std::function<void(std::string&)>([](std::string& c) { c.resize(10); })}) {
        fs.Put("/d", dialer);
        fs.OnOpen = change;
        EXPECT_FALSE(db.IsDialer("/d"));
    }
    fs.OnOpen = nullptr;
    fs.Put("/d", dialer);
    EXPECT_TRUE(db.IsDialer("/d"));
}

TEST(SygnatureManager, MissingDatabaseAtStartThenLoadedLater) {
    TFakeFileSystem fs;
    fs.Put(kExe, "ELF", 41000.25);
    fs.Put("/d", "abc");
    TSygnatureManager db(kDb, fs, kExe);
    EXPECT_EQ(db.FileName(), kDb);
    EXPECT_EQ(db.Version(), "1.0");
    EXPECT_DOUBLE_EQ(db.DatabaseDate(), 41000.25);
    EXPECT_FALSE(db.IsDialer("/d"));
    EXPECT_DOUBLE_EQ(db.FileLastWriteTime("/none"), 0);

    fs.Put(kDb, "[7]\n3-62------------------------------63\n", 42000.5);
    db.Load();
    EXPECT_EQ(db.Version(), "7");
    EXPECT_DOUBLE_EQ(db.DatabaseDate(), 42000.5);
    EXPECT_TRUE(db.IsDialer("/d"));
}

TEST(SygnatureManager, ReloadKeepsOldContentsWhenTheFileIsGoneOrUnreadable) {
    TCountingFileSystem fs;
    fs.Put("/d", "abc");
    fs.Put(kDb, "[2.0]\n3-62------------------------------63\n", 42000);
    TSygnatureManager db(kDb, fs, kExe);
    ASSERT_TRUE(db.IsDialer("/d"));

    fs.Files.erase(kDb);
    db.Load();
    EXPECT_TRUE(db.IsDialer("/d"));
    EXPECT_DOUBLE_EQ(db.DatabaseDate(), 42000);

    fs.Put(kDb, "garbage", 43000);
    fs.FailReadAll = true;
    EXPECT_THROW(db.Load(), EQmError);
    EXPECT_NE(db.LoadError(), "");
    EXPECT_TRUE(db.IsDialer("/d"));
    EXPECT_EQ(db.Version(), "2.0");
    EXPECT_DOUBLE_EQ(db.DatabaseDate(), 42000);

    TSygnatureManager atStart(kDb, fs, kExe);
    EXPECT_NE(atStart.LoadError(), "") << "the constructor keeps the error instead of raising it";

    // A reload without a version line keeps the version read before; an empty file empties the list.
    fs.FailReadAll = false;
    fs.Put(kDb, "4-\n");
    db.Load();
    EXPECT_EQ(db.LoadError(), "");
    EXPECT_EQ(db.Version(), "2.0");
    EXPECT_FALSE(db.IsDialer("/d"));
    fs.Put(kDb, "");
    db.Load();
    EXPECT_TRUE(db.Lines().empty());
    EXPECT_TRUE(db.SizeIndex().empty());
}

TEST(SygnatureManager, FileOfTwoGibibytesOrMoreNeverMatches) {
    TTempDir box;
    TLinuxFileSystem fs;
    struct Row {
        std::uint64_t size;
        std::string fingerprint32;
    } rows[] = {
        {(1ull << 31) + 4, "-2147483644-" + Dashes(17)},
        {(1ull << 32) + 3, "3-00" + Dashes(15) + "00"},
    };
    for (const Row& r : rows) {
        const std::string path = box / "big";
        std::error_code ec;
        std::filesystem::resize_file(box.Write("big", ""), r.size, ec);
        if (ec)
            GTEST_SKIP() << "no sparse files here: " << ec.message();
        EXPECT_EQ(qm::FileFingerprint(fs, path), r.fingerprint32);
        // Both the line its real size would have and the line of its wrapped length.
        const std::string real = std::to_string(r.size) + "-" + Repeat("00", 17);
        box.Write("Sygn.ini", "[1]\n" + real + "\n" + r.fingerprint32 + "\n");
        TSygnatureManager db(box / "Sygn.ini", fs, box / "none");
        EXPECT_FALSE(db.IsDialer(path)) << r.size;
    }
}

TEST(SygnatureManager, ReportsLinesThatCanNeverMatch) {
    const std::string good = "3-62------------------------------63";
    struct Row {
        std::string line;
        bool malformed;
    } rows[] = {
        {good, false},
        {"0-" + Dashes(17), false},
        {"45056-" + Repeat("ab", 17), false},
        {"", true},
        {"45056", true},
        {"-" + Repeat("00", 17), true},
        {" 3-62------------------------------63", true},
        {"03-62------------------------------63", true},
        {"2147483648-" + Repeat("00", 17), true},
        {good + " ", true},
        {good.substr(0, good.size() - 2), true},
        {"3-6G" + Dashes(15) + "63", true},
        {"3-6-" + Dashes(15) + "63", true},
        {"3-62" + Dashes(15) + "6-", true},
        {"3-626262" + Dashes(13) + "63", true},
        {"3-" + Dashes(16) + "63", true},
        {"1501-" + Repeat("00", 15) + "--00", true},
    };
    for (const Row& r : rows)
        EXPECT_EQ(!qm::SygnatureLineProblem(r.line).empty(), r.malformed) << '"' << r.line << '"';

    TFakeFileSystem fs;
    fs.Put(kDb, "[1.0]\r\n" + good + "\r\nfoo\r\n" + good + "\r\n\r\n");
    TSygnatureManager db(kDb, fs, kExe);
    const std::vector<TSygnatureProblem> problems = db.MalformedLines();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].LineNumber, 3u);
    EXPECT_EQ(problems[0].Line, "foo");
    EXPECT_EQ(problems[1].LineNumber, 5u);
}

TEST(SygnatureManager, StarterDatabaseRecognisesTheShippedTestFile) {
    TLinuxFileSystem fs;
    const std::string resources = std::string(QM_TEST_SOURCE_DIR) + "/resources/";
    TSygnatureManager db(resources + "Sygn.ini", fs, resources + "none");
    EXPECT_EQ(db.LoadError(), "");
    EXPECT_EQ(db.MalformedLines().size(), 0u);
    EXPECT_EQ(db.Lines().size(), 1u);
    EXPECT_TRUE(db.IsDialer(resources + "qmvardel-test.sh"));
    EXPECT_FALSE(db.IsDialer(resources + "Sygn.ini"));
}

// Regression guard for the index: every line and size of a generated database is found, in any
// letter case, and nothing else is; the size list is sorted and holds each size once.
TEST(SygnatureManager, IndexFindsEveryLineOfALargeDatabase) {
    std::string text;
    std::vector<std::string> lines;
    std::set<std::string> sizes;
    unsigned seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const std::string size =
            std::to_string(1000 + (seed >> 8) % 5000) + (i % 97 == 0 ? "abcdefghij" : "");
        std::string line = size + "-" + Repeat(i % 3 ? "ab" : "AB", 16) + std::to_string(i % 89 + 10);
        lines.push_back(line);
        sizes.insert(qm::LowerAscii(size));
        text += line + (i % 2 ? "\r\n" : "\n");
    }
    TFakeFileSystem fs;
    fs.Put(kDb, text);
    TSygnatureManager db(kDb, fs, kExe);
    ASSERT_EQ(db.Lines().size(), lines.size());
    for (const std::string& line : lines) {
        ASSERT_TRUE(db.Lines().Contains(line)) << line;
        ASSERT_TRUE(db.Lines().Contains(qm::UpperAscii(line))) << line;
        ASSERT_FALSE(db.Lines().Contains(line + "0")) << line;
        ASSERT_TRUE(db.SizeIndex().Contains(std::string(qm::SizeField(line)))) << line;
    }
    std::vector<std::string> folded;
    for (const std::string_view size : db.SizeIndex())
        folded.push_back(qm::LowerAscii(size));
    EXPECT_EQ(folded, std::vector<std::string>(sizes.begin(), sizes.end()));
    EXPECT_FALSE(db.SizeIndex().Contains("999"));
}

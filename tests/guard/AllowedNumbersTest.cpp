#include "fakes/FakePorts.h"
#include "guard/uAllowedNumbers.h"
#include "util/uQmError.h"

#include <gtest/gtest.h>

namespace {

TEST(NormalizeNumber, DropsAtMostThreeLeadingNonDigitsThenTrims) {
    struct Row {
        const char* in;
        const char* out;
    } rows[] = {
        {"+48 22 123 45 67", "48 22 123 45 67"},
        {"  020 21 22", "020 21 22"},
        {"W*0,20 21 22", "0,20 21 22"},
        {"ABCD020", "D020"},
        {"070 12 34", "070 12 34"},
        {"", ""},
        {"+++", ""},
        {"++++5", "+5"},
        {"0202 \t", "0202"},
        {"+ 1", "1"},
        {"\x01\x02\x03\x04 9", "9"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(qm::NormalizeNumber(r.in), r.out) << '"' << r.in << '"';
}

class RecordingView : public IAllowedNumbersView {
public:
    bool Loading = false;
    std::vector<std::vector<std::string>> Shown;
    bool IsLoading() const override { return Loading; }
    void ShowAllowedNumbers(const std::vector<std::string>& items) override { Shown.push_back(items); }
};

struct AllowedFixture : ::testing::Test {
    TFakeFileSystem Fs;
    TAppIni Ini{"/p/QmVardel.ini", Fs};
    RecordingView View;
    TAllowedList List;
    int TagResets = 0; // as the dial guard hears them
    void SetUp() override {
        List.OnChange = [this] {
            AllowedListChange(List, Ini, View);
        };
        List.AddChangeListener([this] { ++TagResets; });
    }
    std::vector<std::string> Stored() {
        std::vector<std::string> items;
        Ini.ReadList("allowed_connections", items);
        return items;
    }
};

TEST_F(AllowedFixture, EveryChangeRefillsStoresAndResetsTheTag) {
    List.Add("  0202 ");
    List.Add("0700abc");
    List.Add("0202");
    EXPECT_EQ(Stored(), (std::vector<std::string>{"  0202 ", "0700abc", "0202"}));
    EXPECT_EQ(View.Shown.back(), Stored());
    EXPECT_EQ(TagResets, 3);

    EXPECT_TRUE(List.Contains("0700ABC"));
    EXPECT_FALSE(List.Contains("0202 ")); // whole texts compared
    EXPECT_EQ(List.IndexOf("0202"), 2);

    List.Delete(0);
    EXPECT_EQ(Fs.Files["/p/QmVardel.ini"].Content, "[allowed_connections]\n0=0700abc\n1=0202\n");
    List.Add("0202");
    EXPECT_TRUE(List.DeleteFirst("0202"));
    EXPECT_EQ(Stored(), (std::vector<std::string>{"0700abc", "0202"})); // the first copy went
    EXPECT_FALSE(List.DeleteFirst("9999"));

    const int writes = Fs.Replacements;
    List.Assign({"1", "2", "3"});
    EXPECT_EQ(Fs.Replacements, writes + 1); // one notification for a whole-list assignment
    List.Clear();
    EXPECT_TRUE(Stored().empty());
}

TEST_F(AllowedFixture, NothingIsWrittenWhileLoading) {
    View.Loading = true;
    List.Assign({"020 21 22"});
    EXPECT_EQ(Fs.Replacements, 0);
    EXPECT_TRUE(View.Shown.empty());
}

TEST_F(AllowedFixture, RefusedWriteKeepsTheChangeInMemoryAndRaises) {
    Fs.ReadOnlyDirs.insert("/p/");
    EXPECT_THROW(List.Add("0202"), EQmError);
    EXPECT_EQ(List.Count(), 1u);
    EXPECT_EQ(TagResets, 1) << "the listeners heard the change before the write failed";

    // A removed listener hears no more.
    const int id = List.AddChangeListener([this] { TagResets += 100; });
    List.RemoveChangeListener(id);
    Fs.ReadOnlyDirs.clear();
    List.Add("0303");
    EXPECT_EQ(TagResets, 2);
}

} // namespace

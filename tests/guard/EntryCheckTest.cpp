#include "guard/uEntryCheck.h"
#include "util/uQmError.h"

#include "fakes/FakeRemoteAccess.h"

#include <gtest/gtest.h>

namespace {

// A picker that ticks what the dialog would and answers with a scripted button.
class TScriptedPicker : public IEntryPicker {
public:
    TScriptedPicker(IRemoteAccess& remote, bool ok, std::vector<std::string>& events)
        : FRemote(remote), FOk(ok), FEvents(events) {}
    ~TScriptedPicker() override { FEvents.push_back("freed"); }
    bool FillEntries() override {
        FEvents.push_back("fill");
        FChoices = qm::ReadEntryChoices(FRemote);
        return !FChoices.empty();
    }
    bool Execute() override {
        FEvents.push_back("shown");
        return FOk;
    }
    void GetSelectedNumbers(std::vector<std::string>& list) override {
        for (const TEntryChoice& c : FChoices)
            if (c.Ticked)
                list.push_back(c.Number);
    }

private:
    IRemoteAccess& FRemote;
    bool FOk;
    std::vector<std::string>& FEvents;
    std::vector<TEntryChoice> FChoices;
};

class TRecordingView : public IEntryCheckView {
public:
    TFakeRemoteAccess& Remote;
    bool Option = true;
    bool PickerOk = true;
    std::vector<std::string> Events;
    explicit TRecordingView(TFakeRemoteAccess& remote) : Remote(remote) {}
    bool IsCheckEntriesOn() const override { return Option; }
    void ShowEntryAlarm(const std::string& number, const std::string& entryName) override {
        Events.push_back("alarm:" + number + "|" + entryName);
    }
    std::unique_ptr<IEntryPicker> CreateEntryPicker() override {
        return std::make_unique<TScriptedPicker>(Remote, PickerOk, Events);
    }
};

struct TFixture {
    TFakeRemoteAccess Remote;
    TAllowedList Allowed;
    TRecordingView View{Remote};
    TEntryCheck Check{{.RemoteAccess = Remote, .AllowedList = Allowed, .View = View}};
    int Stored = 0;
    TFixture() {
        Allowed.OnChange = [this] {
            ++Stored;
        };
    }
};

} // namespace

TEST(EntryCheck, WarnsOncePerEntryWhoseNumberIsNotAllowed) {
    TFixture f;
    f.Remote.Numbers = {{"Work", "020 21 22"}, {"Fun", "0700 12 34"}, {"Blank", ""}, {"Case", "0700AB"}};
    f.Allowed.Assign({"020 21 22", "0700ab"});
    f.Check.CheckEntries();
    EXPECT_EQ(f.View.Events, std::vector<std::string>{"alarm:0700 12 34|Fun"});

    // Every offending entry gets its own alarm, in the phone book's order.
    f.View.Events.clear();
    f.Allowed.Clear();
    f.Check.CheckEntries();
    EXPECT_EQ(f.View.Events, (std::vector<std::string>{"alarm:0700AB|Case", "alarm:0700 12 34|Fun",
                                                       "alarm:020 21 22|Work"}));
}

TEST(EntryCheck, OptionOffReadsNoEntryAndAFailedListWarnsOfNothing) {
    TFixture f;
    f.Remote.Numbers = {{"Fun", "0700 12 34"}};
    f.View.Option = false;
    f.Check.CheckEntries();
    EXPECT_TRUE(f.Remote.NumberQueries.empty());
    EXPECT_TRUE(f.View.Events.empty());

    f.View.Option = true;
    f.Remote.Unreadable = true;
    f.Check.CheckEntries();
    EXPECT_TRUE(f.View.Events.empty());
}

TEST(EntryCheck, PickerLinesAndTheirTicks) {
    struct TRow {
        const char* Number;
        bool Ticked;
    } rows[] = {
        {"020 21 22", true}, {"0700 12 34", false}, {"0", false}, {"0,", false},
        {"0,123", true},     {"W020 21 22", true},  {"", true},   {"07", false},
        {"0 7", true},       {"00", true},
    };
    TFakeRemoteAccess remote;
    for (const TRow& row : rows) {
        remote.Numbers = {{"E", row.Number}};
        const std::vector<TEntryChoice> choices = qm::ReadEntryChoices(remote);
        ASSERT_EQ(choices.size(), 1u);
        EXPECT_EQ(choices[0].Line, "E (numer: " + std::string(row.Number) + ")");
        EXPECT_EQ(choices[0].Ticked, row.Ticked) << row.Number;
    }
}

TEST(EntryCheck, PickerReplacesTheListInEveryCaseAndStoresItAtOnce) {
    struct TRow {
        const char* Name;
        std::map<std::string, std::string> Entries;
        bool Ok;
        std::vector<std::string> List;
        std::vector<std::string> Events;
    } rows[] = {
        {"ok",
         {{"Work", "020 21 22"}, {"Fun", "0700 12 34"}, {"Letter", "W020 21 22"}},
         true,
         {"W020 21 22", "020 21 22"},
         {"fill", "shown", "freed"}},
        {"anuluj", {{"Work", "020 21 22"}}, false, {}, {"fill", "shown", "freed"}},
        {"nothing ticked", {{"Fun", "0700 12 34"}}, true, {}, {"fill", "shown", "freed"}},
        {"no entry", {}, true, {}, {"fill", "freed"}},
    };
    for (const TRow& row : rows) {
        TFixture f;
        f.Allowed.Assign({"0202"});
        f.Stored = 0;
        f.Remote.Numbers = row.Entries;
        f.View.PickerOk = row.Ok;
        f.Check.PickAllowedNumbers();
        EXPECT_EQ(f.Allowed.Items(), row.List) << row.Name;
        EXPECT_EQ(f.Stored, 1) << row.Name;
        EXPECT_EQ(f.View.Events, row.Events) << row.Name;
    }
}

TEST(EntryCheck, UnreadablePhoneBookStopsThePickerAndKeepsTheList) {
    TFixture f;
    f.Allowed.Assign({"0202"});
    f.Stored = 0;
    f.Remote.Unreadable = true;
    EXPECT_THROW(f.Check.PickAllowedNumbers(), EQmError);
    EXPECT_EQ(f.Allowed.Items(), std::vector<std::string>{"0202"});
    EXPECT_EQ(f.Stored, 0);
    EXPECT_EQ(f.View.Events, (std::vector<std::string>{"fill", "freed"}));
}

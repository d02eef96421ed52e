#include "guard/uDialGuard.h"

#include "fakes/FakePorts.h"
#include "fakes/FakeRemoteAccess.h"

#include <gmock/gmock.h>

#include <deque>
#include <functional>

using qm::TDialRequest;

namespace {

// A prompt that answers from a script; a step may also run something inside the open prompt
// (a nested request), as the event loop of a modal dialog does.
class TScriptedView : public IDialGuardView {
public:
    struct TStep {
        int Answer = caReject;
        std::function<void()> WhileOpen;
    };
    std::deque<TStep> Script;
    std::vector<std::string> Messages;
    std::vector<bool> ChildModes;
    std::vector<std::string> Events;
    bool Child = false;
    bool FailPrompt = false;

    bool ChildMode() const override { return Child; }
    void SetAlarmTray() override { Events.push_back("alarm"); }
    void ResetTray() override { Events.push_back("reset"); }
    int ShowConnectionPrompt(const std::string& message, bool childMode) override {
        Events.push_back("prompt");
        Messages.push_back(message);
        ChildModes.push_back(childMode);
        if (FailPrompt)
            throw EQmError("no display");
        if (Script.empty())
            ADD_FAILURE() << "unexpected prompt: " << message;
        TStep step = Script.empty() ? TStep{} : Script.front();
        if (!Script.empty())
            Script.pop_front();
        if (step.WhileOpen)
            step.WhileOpen();
        return step.Answer;
    }
    void ShowError(const std::string& text) override { Events.push_back("error:" + text); }
    int Prompts() const { return static_cast<int>(Messages.size()); }
};

struct TGuardFixture {
    TFakeFileSystem Fs;
    TAppIni Ini{"/opt/qm/QmVardel.ini", Fs};
    TAllowedList List;
    TFakeRemoteAccess Remote;
    TScriptedView View;
    TDialGuard Guard{List, Remote, View};

    // The owner stores the list on a change; the guard resets its last tag by itself.
    TGuardFixture() {
        List.OnChange = [this] {
            Ini.WriteList(kAllowedConnectionsSection, List.Items());
        };
    }
    std::int32_t Dial(const std::string& number, std::uint32_t tag = 1, const std::string& entry = "",
                      const std::string& book = "") {
        return Guard.HandleDialRequest(TDialRequest{tag, number, book, entry});
    }
};

} // namespace

TEST(DialGuard, ListedNumberPassesWithoutPromptOrTray) {
    TGuardFixture f;
    f.List.Assign({"0202122", "0700ABC", "0700abc"});
    EXPECT_EQ(f.Dial("0202122"), 0);
    EXPECT_EQ(f.Dial("0700Abc"), 0); // two items differing in case both match; lookup ignores case
    EXPECT_TRUE(f.View.Events.empty());
    EXPECT_EQ(f.Guard.LastNumber(), "0700Abc");
    EXPECT_TRUE(f.Guard.LastAllowed());
}

TEST(DialGuard, RepeatRuleFollowsTheRules) {
    // Each row: the first request's answer, then the second request; the columns say whether the
    // second one asks again.
    struct TCase {
        const char* Name;
        int FirstAnswer;
        std::string SecondNumber;
        std::uint32_t SecondTag;
        bool ChangeListBetween;
        bool SecondAsks;
    } cases[] = {
        {"allowed, same number and tag", caConnect, "0300", 5, false, false},
        {"allowed, other tag", caConnect, "0300", 6, false, true},
        {"allowed, number differing in case", caConnect, "0300X", 5, false, true},
        {"rejected, same request", caReject, "0300", 5, false, true},
        {"allowed, list changed in between", caConnect, "0300", 5, true, true},
    };
    for (const TCase& c : cases) {
        TGuardFixture f;
        const std::string first = c.SecondNumber == "0300X" ? "0300x" : "0300";
        f.View.Script = {{c.FirstAnswer, nullptr}, {caReject, nullptr}};
        EXPECT_EQ(f.Dial(first, 5), c.FirstAnswer == caConnect ? 0 : 1) << c.Name;
        if (c.ChangeListBetween)
            f.List.Add("9999");
        const int prompts = f.View.Prompts();
        const std::int32_t second = f.Dial(c.SecondNumber, c.SecondTag);
        EXPECT_EQ(f.View.Prompts() - prompts, c.SecondAsks ? 1 : 0) << c.Name;
        EXPECT_EQ(second, c.SecondAsks ? 1 : 0) << c.Name;
    }
}

TEST(DialGuard, ListChangeLeavesTagZeroRequestsTheShortcut) {
    TGuardFixture f;
    f.View.Script = {{caConnect, nullptr}};
    EXPECT_EQ(f.Dial("0300", 0), 0);
    f.List.Add("9999");
    EXPECT_EQ(f.Dial("0300", 0), 0);
    EXPECT_EQ(f.View.Prompts(), 1);
}

TEST(DialGuard, AddToListStoresTheNormalisedNumberAndPassesNextTime) {
    TGuardFixture f;
    f.View.Script = {{caAddNumber, nullptr}};
    EXPECT_EQ(f.Dial(" +48 22 123 ", 9), 0);
    EXPECT_EQ(f.List.Items(), std::vector<std::string>{"48 22 123"});
    std::vector<std::string> stored;
    f.Ini.ReadList(kAllowedConnectionsSection, stored);
    EXPECT_EQ(stored, std::vector<std::string>{"48 22 123"});
    // The change reset the tag before the request was recorded; the record then takes its own tag.
    EXPECT_EQ(f.Guard.LastRequestTag(), 9u);
    EXPECT_EQ(f.Dial("48 22 123", 10), 0);
    EXPECT_EQ(f.View.Prompts(), 1);
}

TEST(DialGuard, NumberComesFromTheRequestOrTheEntry) {
    struct TCase {
        const char* Name;
        std::string PhoneNumber;
        std::string Book;
        std::string Asked; // the number in the prompt
        bool QueriesEntry;
    } cases[] = {
        {"blank number falls to the entry", " \t ", "", "0202122", true},
        {"entry of another phone book", "", "/home/u/pb", "0701", true},
        {"leading plus dropped", "+0300 12", "", "0300 12", false},
        {"request number wins over the entry", "0400", "", "0400", false},
    };
    for (const TCase& c : cases) {
        TGuardFixture f;
        f.Remote.Numbers["dom"] = "  +0202122 ";
        f.Remote.Books["/home/u/pb"]["dom"] = "0701";
        f.List.Assign({"+0300 12"}); // typed by hand with its plus: never matches a request
        f.View.Script = {{caReject, nullptr}};
        EXPECT_EQ(f.Dial(c.PhoneNumber, 1, "dom", c.Book), 1) << c.Name;
        ASSERT_EQ(f.View.Messages.size(), 1u) << c.Name;
        EXPECT_THAT(f.View.Messages[0], testing::HasSubstr("<b>" + c.Asked + "</b>")) << c.Name;
        EXPECT_EQ(f.Remote.NumberQueries.size(), c.QueriesEntry ? 1u : 0u) << c.Name;
        EXPECT_EQ(f.Guard.LastNumber(), c.Asked) << c.Name;
    }
}

TEST(DialGuard, PromptCarriesTheExactMessageBetweenAlarmAndReset) {
    TGuardFixture f;
    f.View.Script = {{caConnect, nullptr}};
    f.Dial("0300");
    EXPECT_EQ(f.View.Events, (std::vector<std::string>{"alarm", "prompt", "reset"}));
    EXPECT_EQ(f.View.Messages[0],
              "<b>QmVardel<plain> wykrył próbę nawiązania połączenia z numerem <b>0300</b>.\r\nNumer ten nie "
              "znajduje się na liście numerów dozwolonych. Czy zezwolić na połączenie?");
}

TEST(DialGuard, ChildModeOnlyRejects) {
    for (int answer : {0, 1, 2, 7}) {
        TGuardFixture f;
        f.View.Child = true;
        f.View.Script = {{answer, nullptr}};
        EXPECT_EQ(f.Dial("0300"), 1) << answer;
        EXPECT_EQ(f.View.ChildModes, std::vector<bool>{true});
        EXPECT_EQ(f.List.Count(), 0u);
    }
    TGuardFixture f;
    f.View.Child = true;
    f.List.Assign({"0300"});
    EXPECT_EQ(f.Dial("0300"), 0); // the list is not affected
}

TEST(DialGuard, UnknownAnswerRejects) {
    TGuardFixture f;
    f.View.Script = {{-1, nullptr}};
    EXPECT_EQ(f.Dial("0300"), 1);
    EXPECT_FALSE(f.Guard.LastAllowed());
}

TEST(DialGuard, UnreadablePhoneBookLetsTheDialGoAndKeepsTheLastRequest) {
    TGuardFixture f;
    f.View.Script = {{caConnect, nullptr}};
    f.Dial("0300", 4);
    f.Remote.Unreadable = true;
    EXPECT_EQ(f.Dial("", 8, "dom"), 0);
    EXPECT_EQ(f.View.Events.back(), "error:Nie można odczytać książki telefonicznej");
    EXPECT_EQ(f.Guard.LastNumber(), "0300");
    EXPECT_EQ(f.Guard.LastRequestTag(), 4u);
    EXPECT_TRUE(f.Guard.LastAllowed());
}

TEST(DialGuard, PromptThatCannotBeShownBlocksAndResetsTheTray) {
    TGuardFixture f;
    f.View.FailPrompt = true;
    EXPECT_EQ(f.Dial("0300", 4), 1);
    EXPECT_EQ(f.View.Events, (std::vector<std::string>{"alarm", "prompt", "reset", "error:no display"}));
    EXPECT_EQ(f.Guard.LastNumber(), "");
}

TEST(DialGuard, NestedRequestIsDecidedAndRecordedFirst) {
    TGuardFixture f;
    std::int32_t nested = -1;
    std::string lastSeenInside;
    f.View.Script = {{caReject,
                      [&] {
                          nested = f.Dial("0500", 2);
                          lastSeenInside = f.Guard.LastNumber();
                      }},
                     {caConnect, nullptr}};
    EXPECT_EQ(f.Dial("0400", 1), 1);
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(lastSeenInside, "0500");
    EXPECT_EQ(f.Guard.LastNumber(), "0400");
    EXPECT_EQ(f.Guard.LastRequestTag(), 1u);
    EXPECT_FALSE(f.Guard.LastAllowed());
    EXPECT_EQ(f.View.Events,
              (std::vector<std::string>{"alarm", "prompt", "alarm", "prompt", "reset", "reset"}));
}

// The dial guard end to end: the real program on Xvfb, in a temporary copy of its folder with a
// settings file of its own, asked by vardel-hook as the hook library would, its prompt answered
// with keys sent by xdotool. Skips when Xvfb or xdotool is not installed.
#include "ProgramOnXvfb.h"

namespace {

using DialGuardE2E = TProgramOnXvfb;

} // namespace

TEST_F(DialGuardE2E, ListedNumberPassesWithoutPrompt) {
    auto hook = StartHook({"dial", "--tag", "1", "0202122"});
    EXPECT_EQ(ResultOf(*hook), "0");
    EXPECT_TRUE(Windows("^QmVardel$").isEmpty());
}

TEST_F(DialGuardE2E, PromptIsAnsweredWithKeys) {
    struct TCase {
        const char* Name;
        QStringList Keys;
        std::string Result;
    } cases[] = {
        {"Enter rejects", {"Return"}, "1"},
        {"Escape rejects", {"Escape"}, "1"},
        {"Tab then space connects", {"Tab", "space"}, "0"},
    };
    std::uint32_t tag = 10;
    for (const TCase& c : cases) {
        auto hook = StartHook({"dial", "--tag", QString::number(tag++), "0300"});
        const QString prompt = WaitForPrompts(1);
        ASSERT_FALSE(prompt.isEmpty()) << c.Name << "\n" << Log();
        Keys(prompt, c.Keys);
        EXPECT_EQ(ResultOf(*hook), c.Result) << c.Name;
        EXPECT_TRUE(WaitForPrompts(0).isEmpty()) << c.Name;
    }
}

TEST_F(DialGuardE2E, AddToListStoresTheNumber) {
    auto hook = StartHook({"dial", "--tag", "3", "+0 700 12"});
    const QString prompt = WaitForPrompts(1);
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Tab", "Tab", "space"});
    EXPECT_EQ(ResultOf(*hook), "0");
    EXPECT_NE(Ini().find("1=0 700 12"), std::string::npos) << Ini();
    // From now on it is a listed number, with any tag.
    auto again = StartHook({"dial", "--tag", "99", "0 700 12"});
    EXPECT_EQ(ResultOf(*again), "0");
    EXPECT_TRUE(Windows("^QmVardel$").isEmpty());
}

TEST_F(DialGuardE2E, SecondRequestDuringAnOpenPromptIsAnsweredFirst) {
    auto first = StartHook({"dial", "--tag", "1", "0400"});
    const QString firstPrompt = WaitForPrompts(1);
    ASSERT_FALSE(firstPrompt.isEmpty()) << Log();

    // A listed number passes at once although a prompt is open.
    auto listed = StartHook({"dial", "--tag", "2", "0202122"});
    EXPECT_EQ(ResultOf(*listed), "0");
    // An unlisted one gets its own prompt on top and is answered before the first.
    auto second = StartHook({"dial", "--tag", "3", "0500"});
    const QString secondPrompt = WaitForPrompts(2);
    ASSERT_FALSE(secondPrompt.isEmpty()) << Log();
    EXPECT_NE(secondPrompt, firstPrompt);
    Keys(secondPrompt, {"Tab", "space"});
    EXPECT_EQ(ResultOf(*second), "0");
    EXPECT_EQ(first->state(), QProcess::Running);

    const QString remaining = WaitForPrompts(1);
    ASSERT_EQ(remaining, firstPrompt);
    Keys(firstPrompt, {"Escape"});
    EXPECT_EQ(ResultOf(*first), "1");
}

TEST_F(DialGuardE2E, EndOfWorkIsNotHeldUpByAnOpenPrompt) {
    auto hook = StartHook({"dial", "--tag", "1", "0600"});
    ASSERT_FALSE(WaitForPrompts(1).isEmpty()) << Log();
    FProgram.terminate();
    ASSERT_TRUE(FProgram.waitForFinished(15000)) << Log();
    EXPECT_EQ(FProgram.exitCode(), 0);
    // The request got no answer; the sender says so instead of hanging.
    EXPECT_EQ(ResultOf(*hook).substr(0, 9), "(failed 1");
}

// The launched-program guard over the same window: the shipped test file (its fingerprint is in the
// starter database) is a dialer; the prompt shares the main window's title "Qm Vardel".
TEST_F(DialGuardE2E, DialerStartIsLetThroughOrRemovedAsTheUserAnswers) {
    const QString dialer = FApp + "/qmvardel-test.sh";
    const QString mainWindow = Windows("^Qm Vardel$").value(0);
    const auto dialerPrompt = [&] {
        QString found;
        WaitUntil([&] {
            for (const QString& w : Windows("^Qm Vardel$"))
                if (w != mainWindow)
                    found = w;
            return !found.isEmpty();
        });
        return found;
    };

    // "Uruchom Dialer" (one Tab from the focused "  Usuń Dialer") lets it start and leaves it.
    auto allowed = StartHook({"start", dialer});
    QString prompt = dialerPrompt();
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Tab", "space"});
    EXPECT_EQ(ResultOf(*allowed), "0");
    EXPECT_TRUE(QFile::exists(dialer));

    // Enter presses "  Usuń Dialer": the file goes into the quarantine, a box says where, and the
    // start is refused once the box is closed.
    auto removed = StartHook({"start", dialer});
    prompt = dialerPrompt();
    ASSERT_FALSE(prompt.isEmpty()) << Log();
    Keys(prompt, {"Return"});
    // The information box that says where the file went carries its kind's title.
    QString box;
    WaitUntil([&] {
        box = Windows("^Informacja$").value(0);
        return !box.isEmpty();
    });
    ASSERT_FALSE(box.isEmpty()) << Log();
    EXPECT_EQ(removed->state(), QProcess::Running);
    Keys(box, {"Return"});
    EXPECT_EQ(ResultOf(*removed), "1");
    EXPECT_FALSE(QFile::exists(dialer));
    EXPECT_TRUE(QFile::exists(FApp + "/back/qmvardel-test.sh"));
    QFile log(FApp + "/back/log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Wykryto dialer: " + dialer.toUtf8()));

    // Another program starts without a word.
    auto harmless = StartHook({"start", FApp + "/vardel-hook"});
    EXPECT_EQ(ResultOf(*harmless), "0");
    EXPECT_TRUE(WaitForPrompts(0).isEmpty());
    EXPECT_EQ(Windows("^Qm Vardel$"), QStringList{mainWindow});
}

#include "StandInGuard.h"
#include "support/TempDir.h"
#include "uHookSender.h"

#include "core/uHookFrame.h"

#include <future>
#include <gtest/gtest.h>

using namespace qm;

TEST(HookSender, DeliversFrameAndReturnsResult) {
    TTempDir dir;
    TStandInGuard guard(dir.Path() + "/hook.sock",
                        [](const TStandInFrame& f) { return f.DwData == 0 ? 1 : 7; });
    const std::uint8_t payload[] = {1, 2, 3};
    std::string error;
    THookSendFailure failure = THookSendFailure::hsfIo;
    EXPECT_EQ(SendHookFrame(guard.Path(), 0, payload, 2000, &error, &failure), 1);
    EXPECT_EQ(failure, THookSendFailure::hsfNone);
    EXPECT_EQ(SendHookFrame(guard.Path(), 5, {}, -1, nullptr), 7);
    auto frames = guard.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].Payload, std::vector<std::uint8_t>({1, 2, 3}));
    EXPECT_EQ(frames[1].DwData, 5u);
    EXPECT_TRUE(frames[1].Payload.empty());
}

TEST(HookSender, ReportsEachFailureDistinctly) {
    TTempDir dir;
    TStandInGuard silent(dir.Path() + "/silent.sock",
                         [](const TStandInFrame&) -> std::optional<std::int32_t> { return std::nullopt; });
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    TStandInGuard slow(dir.Path() + "/slow.sock",
                       [released](const TStandInFrame&) -> std::optional<std::int32_t> {
                           released.wait_for(std::chrono::seconds(10));
                           return 0;
                       });
    std::vector<std::uint8_t> huge(kMaxHookFrame + 1);
    struct TCase {
        std::string Path;
        std::vector<std::uint8_t> Payload;
        int Timeout;
        THookSendFailure Expected;
    } cases[] = {
        {dir.Path() + "/missing.sock", {}, 1000, THookSendFailure::hsfNoGuard},
        {dir.Path(), {}, 1000, THookSendFailure::hsfIo}, // a folder, not a socket
        {silent.Path(), {1}, 1000, THookSendFailure::hsfClosed},
        {slow.Path(), {1}, 20, THookSendFailure::hsfTimeout},
        {silent.Path(), huge, 1000, THookSendFailure::hsfTooLarge},
        {std::string(200, 'x'), {}, 1000, THookSendFailure::hsfIo},
    };
    for (const auto& c : cases) {
        std::string error;
        THookSendFailure failure = THookSendFailure::hsfNone;
        EXPECT_FALSE(SendHookFrame(c.Path, 0, c.Payload, c.Timeout, &error, &failure)) << c.Path;
        EXPECT_EQ(failure, c.Expected) << c.Path;
        EXPECT_FALSE(error.empty()) << c.Path;
    }
    release.set_value();
}

TEST(HookSender, StoppedGuardReadsAsNoGuard) {
    TTempDir dir;
    TStandInGuard guard(dir.Path() + "/hook.sock", [](const TStandInFrame&) { return 0; });
    EXPECT_EQ(SendHookFrame(guard.Path(), 0, {}, 1000, nullptr), 0);
    guard.Stop();
    THookSendFailure failure{};
    EXPECT_FALSE(SendHookFrame(guard.Path(), 0, {}, 1000, nullptr, &failure));
    EXPECT_EQ(failure, THookSendFailure::hsfNoGuard);
}

#include "core/uTrayState.h"

#include "fakes/FakePorts.h"

#include <gtest/gtest.h>

namespace {

class TRecordingTrayView : public ITrayView {
public:
    std::string Hint;
    TTrayImageList List = TTrayImageList::tilTrayIcon;
    int Image = -1;
    int SoundStarts = 0;
    bool SoundPlaying = false;
    bool Connected = false;
    std::string Number;

    void ShowTrayImage(TTrayImageList list, int index) override {
        List = list;
        Image = index;
    }
    void SetTrayHint(const std::string& hint) override { Hint = hint; }
    void StartAlarmSound() override {
        ++SoundStarts;
        SoundPlaying = true;
    }
    void StopSound() override { SoundPlaying = false; }
    bool IsConnectionUp() const override { return Connected; }
    std::string ConnectedNumber() const override { return Number; }
};

struct TTrayFixture : ::testing::Test {
    TRecordingTrayView View;
    TFakeTimerFactory Timers;
    TTrayStateMachine Tray{View, Timers};
    TFakeTimer& Animation() { return *Timers.Timers.at(0); }
};

struct TTrayCase {
    const char* Name;
    bool Connected;
    std::vector<int> Requests;
    TTrayState State;
    std::string Hint;
    TTrayImageList List;
};

class TTraySequence : public TTrayFixture, public ::testing::WithParamInterface<TTrayCase> {};

TEST_P(TTraySequence, EndsInExpectedStateAndHint) {
    const TTrayCase& c = GetParam();
    View.Connected = c.Connected;
    View.Number = "0202122";
    for (int r : c.Requests)
        Tray.SetTrayState(r);
    EXPECT_EQ(Tray.State(), c.State);
    EXPECT_EQ(View.Hint, c.Hint);
    EXPECT_EQ(View.List, c.List);
}

INSTANTIATE_TEST_SUITE_P(
    Priorities, TTraySequence,
    ::testing::Values(
        TTrayCase{"ResetLandsOnIdle", false, {trayReset}, trayIdle, kHintIdle, TTrayImageList::tilTrayIcon},
        TTrayCase{"ResetWhileConnectedGivesConnected",
                  true,
                  {trayReset},
                  trayConnected,
                  std::string(kHintConnected) + "0202122",
                  TTrayImageList::tilTrayIcon},
        TTrayCase{"ScanDuringUpdateIsIgnored",
                  false,
                  {trayReset, trayUpdating, trayScanning},
                  trayUpdating,
                  kHintUpdating,
                  TTrayImageList::tilUpdateAnimate},
        TTrayCase{"UpdateEndResetsThoughScanRuns",
                  false,
                  {trayReset, trayUpdating, trayScanning, trayReset},
                  trayIdle,
                  kHintIdle,
                  TTrayImageList::tilTrayIcon},
        TTrayCase{"ConnectedDuringScanIsIgnored",
                  true,
                  {trayScanning, trayConnected},
                  trayScanning,
                  kHintScanning,
                  TTrayImageList::tilScanAnimate},
        TTrayCase{"ConnectedHintAfterLaterReset",
                  true,
                  {trayScanning, trayConnected, trayReset},
                  trayConnected,
                  std::string(kHintConnected) + "0202122",
                  TTrayImageList::tilTrayIcon},
        TTrayCase{"DialPromptAfterScanAlarmResetsBoth",
                  false,
                  {trayScanning, trayAlarm, trayAlarm, trayReset},
                  trayIdle,
                  kHintIdle,
                  TTrayImageList::tilTrayIcon},
        TTrayCase{"OutOfRangeIgnored",
                  false,
                  {trayUpdating, 6, -1},
                  trayUpdating,
                  kHintUpdating,
                  TTrayImageList::tilUpdateAnimate}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TTrayFixture, AlarmSoundStartsOnceAndIsCutByNextAcceptedChangeOnly) {
    Tray.SetTrayState(trayAlarm);
    EXPECT_EQ(View.SoundStarts, 1);
    EXPECT_TRUE(View.SoundPlaying);
    Tray.SetTrayState(trayScanning); // lower: ignored, the sound goes on
    Tray.SetTrayState(trayIdle);
    EXPECT_TRUE(View.SoundPlaying);
    EXPECT_EQ(Tray.State(), trayAlarm);
    Tray.SetTrayState(trayAlarm); // equal rank passes: animation and sound restart
    EXPECT_EQ(View.SoundStarts, 2);
    Tray.SetTrayState(trayReset);
    EXPECT_FALSE(View.SoundPlaying);
    EXPECT_EQ(View.SoundStarts, 2);
}

TEST_F(TTrayFixture, AnimationsCycleTheirFramesAtTheirIntervals) {
    struct TRow {
        int State;
        TTrayImageList List;
        int Interval;
        int Frames;
    };
    for (const TRow& row : {TRow{trayScanning, TTrayImageList::tilScanAnimate, 120, 8},
                            TRow{trayUpdating, TTrayImageList::tilUpdateAnimate, 250, 4},
                            TRow{trayAlarm, TTrayImageList::tilAlarmAnimate, 400, 2}}) {
        Tray.SetTrayState(trayReset);
        Tray.SetTrayState(row.State);
        EXPECT_EQ(View.List, row.List);
        EXPECT_EQ(View.Image, 0);
        EXPECT_EQ(Animation().Interval(), row.Interval);
        for (int i = 1; i < row.Frames; ++i) {
            Animation().Fire();
            EXPECT_EQ(View.Image, i);
        }
        Animation().Fire();
        EXPECT_EQ(View.Image, 0) << "wraps to the first frame";
    }
    Tray.SetTrayState(trayReset);
    EXPECT_FALSE(Animation().IsActive()) << "a still icon ends the animation";
    EXPECT_EQ(View.Image, kTrayIdleImage);
}

TEST_F(TTrayFixture, LogoAnimationKeepsStateAndHintUntilNextAcceptedRequest) {
    Tray.SetTrayState(trayReset);
    Tray.ShowLogoAnimation();
    EXPECT_EQ(Tray.State(), trayIdle);
    EXPECT_EQ(View.Hint, kHintIdle);
    EXPECT_EQ(View.List, TTrayImageList::tilScanAnimate);
    EXPECT_EQ(Animation().Interval(), kTrayScanInterval);
    Tray.SetTrayState(trayIdle);
    EXPECT_EQ(View.List, TTrayImageList::tilTrayIcon);
    EXPECT_FALSE(Animation().IsActive());
}

} // namespace

#include "app/bit_slider.h"
#include "app/volume_control.h"
#include "app/volume_controller.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace qm {
namespace {

class FakeMixer : public IVolumeControl {
public:
    bool IsAvailable() const override { return true; }
    bool GetRange(int64_t& lo, int64_t& hi) const override {
        lo = min;
        hi = max;
        return true;
    }
    std::optional<int64_t> GetVolume() const override { return volume; }
    bool SetVolume(int64_t value) override {
        sets.push_back(value);
        volume = value;
        return true;
    }
    std::optional<bool> GetPlaybackSwitch() const override { return soundOn; }
    bool SetPlaybackSwitch(bool on) override {
        if (!hasSwitch) return false;
        soundOn = on;
        switches.push_back(on);
        return true;
    }

    int64_t min = 0;
    int64_t max = 65535;
    int64_t volume = 32768;
    std::optional<bool> soundOn = true;
    bool hasSwitch = true;
    std::vector<int64_t> sets;
    std::vector<bool> switches;
};

TEST(Volume, SliderTakesTheMixersRangeAndValue) {
    FakeMixer mixer;
    CBitSlider slider;
    slider.SetTooltipMode(CBitSlider::TooltipMode::Time);
    CVolumeController volume(mixer);
    volume.Setup(&slider);
    EXPECT_EQ(slider.GetRangeMin(), 0);
    EXPECT_EQ(slider.GetRangeMax(), 65535);
    EXPECT_EQ(slider.GetPos(), 32768);
    EXPECT_EQ(slider.GetTooltipMode(), CBitSlider::TooltipMode::Percent);
    EXPECT_EQ(slider.toolTip(), "50%");
    EXPECT_TRUE(mixer.sets.empty());
    EXPECT_FALSE(volume.IsMuted());
}

TEST(Volume, PressTrackAndReleaseSetTheMixer) {
    FakeMixer mixer;
    CBitSlider slider;
    bool busy = false;
    CVolumeController volume(mixer, [&busy] { return busy; });
    volume.Setup(&slider);

    emit slider.pressed(1000);
    EXPECT_EQ(slider.GetPos(), 1000);
    // Track reads the slider, whatever the message says.
    slider.SetPos(6553);
    emit slider.tracked(1);
    EXPECT_EQ(slider.toolTip(), "9%");
    emit slider.released(65535);
    EXPECT_EQ(mixer.sets, (std::vector<int64_t>{1000, 6553, 65535}));

    busy = true;
    emit slider.released(0);
    EXPECT_EQ(mixer.volume, 65535);
}

TEST(Volume, VolButtonMutesAndUnmutesWithoutMovingTheSlider) {
    FakeMixer mixer;
    CBitSlider slider;
    CVolumeController volume(mixer);
    volume.Setup(&slider);
    QSignalSpy images(&volume, &CVolumeController::muteImageChanged);

    volume.OnMute();
    EXPECT_TRUE(volume.IsMuted());
    EXPECT_EQ(volume.MuteImage(), CVolumeController::kImageMuted);
    volume.OnMute();
    EXPECT_FALSE(volume.IsMuted());
    EXPECT_EQ(mixer.switches, (std::vector<bool>{false, true})); // switch off = muted
    ASSERT_EQ(images.count(), 2);
    EXPECT_EQ(images[0][0].toInt(), 1095);
    EXPECT_EQ(images[1][0].toInt(), 1094);
    EXPECT_EQ(slider.GetPos(), 32768);
    EXPECT_TRUE(mixer.sets.empty());
}

TEST(Volume, StartsFromTheMixersMuteAndKeepsItWhenTheSwitchFails) {
    FakeMixer mixer;
    mixer.soundOn = false;
    CBitSlider slider;
    CVolumeController volume(mixer);
    volume.Setup(&slider);
    EXPECT_TRUE(volume.IsMuted());
    EXPECT_EQ(volume.MuteImage(), CVolumeController::kImageMuted);

    mixer.hasSwitch = false;
    volume.OnMute();
    EXPECT_TRUE(volume.IsMuted());
    EXPECT_EQ(mixer.soundOn, false);
}

TEST(Volume, WithoutAMixerNothingChanges) {
    CNullVolumeControl mixer;
    CBitSlider slider;
    slider.SetRange(0, 100);
    slider.SetPos(40);
    CVolumeController volume(mixer);
    volume.Setup(&slider);
    QSignalSpy images(&volume, &CVolumeController::muteImageChanged);
    EXPECT_EQ(slider.GetRangeMax(), 100);
    EXPECT_EQ(slider.GetPos(), 40);

    emit slider.pressed(70);
    emit slider.tracked(70);
    emit slider.released(70);
    volume.OnMute();
    EXPECT_EQ(slider.GetPos(), 40);
    EXPECT_FALSE(volume.IsMuted());
    EXPECT_EQ(volume.MuteImage(), CVolumeController::kImageSoundOn);
    EXPECT_EQ(images.count(), 0);
}

} // namespace
} // namespace qm

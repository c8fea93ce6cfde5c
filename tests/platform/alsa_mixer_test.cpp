// The ALSA mixer without a mixer: every control is missing and nothing fails
// or prints.

#include "platform/alsa_mixer.h"
#include "platform/diagnostics.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(AlsaMixer, MissingMixerHasNoControls) {
    DiagnosticsCapture capture;
    testing::internal::CaptureStderr();
    TAlsaMixer mixer("hw:97");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(mixer.IsAvailable());
    int64_t min = -1, max = -1;
    EXPECT_FALSE(mixer.GetRange(min, max));
    EXPECT_FALSE(mixer.GetVolume().has_value());
    EXPECT_FALSE(mixer.SetVolume(10));
    EXPECT_FALSE(mixer.GetPlaybackSwitch().has_value());
    EXPECT_FALSE(mixer.SetPlaybackSwitch(false));
    ASSERT_FALSE(capture.Lines().empty());
    EXPECT_EQ(capture.Lines().back().rfind("[5][AlsaMixer] (Open) mixer \"hw:97\"", 0), 0u);
}

} // namespace
} // namespace qm

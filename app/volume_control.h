#pragma once
// The speaker line's volume and mute as the main window uses them: the
// system mixer's master volume and playback switch. The program's own sound
// output is not scaled by these.
//
// Calls on an unavailable control do nothing and report failure.

#include <cstdint>
#include <memory>
#include <optional>

namespace qm {

class IVolumeControl {
public:
    virtual ~IVolumeControl() = default;

    // A mixer with a volume control was found.
    virtual bool IsAvailable() const = 0;
    // The volume control's range; false when there is none.
    virtual bool GetRange(int64_t& min, int64_t& max) const = 0;
    virtual std::optional<int64_t> GetVolume() const = 0;
    virtual bool SetVolume(int64_t value) = 0;
    // The playback switch: true while sound is on (not muted). Empty when the
    // line has no switch.
    virtual std::optional<bool> GetPlaybackSwitch() const = 0;
    virtual bool SetPlaybackSwitch(bool on) = 0;
};

// No mixer: every control is missing and nothing fails.
class CNullVolumeControl : public IVolumeControl {
public:
    bool IsAvailable() const override { return false; }
    bool GetRange(int64_t&, int64_t&) const override { return false; }
    std::optional<int64_t> GetVolume() const override { return std::nullopt; }
    bool SetVolume(int64_t) override { return false; }
    std::optional<bool> GetPlaybackSwitch() const override { return std::nullopt; }
    bool SetPlaybackSwitch(bool) override { return false; }
};

// The system mixer's control when there is one, else the null control.
std::unique_ptr<IVolumeControl> MakeSystemVolumeControl();

} // namespace qm

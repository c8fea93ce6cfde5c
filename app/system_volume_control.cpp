#include "app/volume_control.h"

#include "platform/alsa_mixer.h"

#include <memory>

namespace qm {

namespace {

// The speakers' volume and mute on the system mixer.
class CAlsaVolumeControl : public IVolumeControl {
public:
    bool IsAvailable() const override { return m_mixer.IsAvailable(); }
    bool GetRange(int64_t& min, int64_t& max) const override { return m_mixer.GetRange(min, max); }
    std::optional<int64_t> GetVolume() const override { return m_mixer.GetVolume(); }
    bool SetVolume(int64_t value) override { return m_mixer.SetVolume(value); }
    std::optional<bool> GetPlaybackSwitch() const override { return m_mixer.GetPlaybackSwitch(); }
    bool SetPlaybackSwitch(bool on) override { return m_mixer.SetPlaybackSwitch(on); }

private:
    TAlsaMixer m_mixer;
};

} // namespace

std::unique_ptr<IVolumeControl> MakeSystemVolumeControl() {
    auto alsa = std::make_unique<CAlsaVolumeControl>();
    if (alsa->IsAvailable()) return alsa;
    return std::make_unique<CNullVolumeControl>();
}

} // namespace qm

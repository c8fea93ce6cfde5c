#include "app/volume_controller.h"

#include "app/bit_slider.h"
#include "app/volume_control.h"

namespace qm {

CVolumeController::CVolumeController(IVolumeControl& mixer, std::function<bool()> isBusy,
                                     QObject* parent)
    : QObject(parent), m_mixer(mixer), m_isBusy(std::move(isBusy)) {}

void CVolumeController::Setup(CBitSlider* slider) {
    if (m_pSlider) disconnect(m_pSlider, nullptr, this, nullptr);
    m_pSlider = slider;
    if (slider) {
        slider->SetTooltipMode(CBitSlider::TooltipMode::Percent);
        connect(slider, &CBitSlider::pressed, this, &CVolumeController::OnSliderPress);
        connect(slider, &CBitSlider::tracked, this, &CVolumeController::OnSliderTrack);
        connect(slider, &CBitSlider::released, this, &CVolumeController::OnSliderRelease);
    }
    if (!m_mixer.IsAvailable()) return;
    int64_t min = 0, max = 0;
    if (slider && m_mixer.GetRange(min, max)) {
        slider->SetRange(min, max);
        if (const auto volume = m_mixer.GetVolume()) slider->SetPos(*volume);
        slider->RefreshTooltip();
    }
    // Start from the mixer's own state so that the first press of "Vol"
    // does what its image promises.
    if (const auto on = m_mixer.GetPlaybackSwitch(); on && *on == m_bMute) {
        m_bMute = !*on;
        emit muteImageChanged(MuteImage());
    }
}

void CVolumeController::OnSliderPress(int64_t pos) {
    if (!m_mixer.IsAvailable()) return;
    m_mixer.SetVolume(pos);
    if (m_pSlider) m_pSlider->SetPos(pos);
}

void CVolumeController::OnSliderTrack(int64_t) {
    if (!m_mixer.IsAvailable() || !m_pSlider) return;
    m_mixer.SetVolume(m_pSlider->GetPos());
    m_pSlider->RefreshTooltip();
}

void CVolumeController::OnSliderRelease(int64_t pos) {
    if (!m_mixer.IsAvailable() || (m_isBusy && m_isBusy())) return;
    m_mixer.SetVolume(pos);
    if (m_pSlider) m_pSlider->RefreshTooltip();
}

void CVolumeController::OnMute() {
    // The image follows the mixer: a switch that cannot be set leaves both
    // the sound and the button as they were.
    const bool mute = !m_bMute;
    if (!m_mixer.IsAvailable() || !m_mixer.SetPlaybackSwitch(!mute)) return;
    m_bMute = mute;
    emit muteImageChanged(MuteImage());
}

} // namespace qm

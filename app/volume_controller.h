#pragma once
// The volume slider (percentage tooltip) and the "Vol" button of the main
// window, over the system mixer (IVolumeControl). Without a mixer both
// change nothing.

#include "app/bit_slider.h"

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>

namespace qm {

class IVolumeControl;

class CVolumeController : public QObject {
    Q_OBJECT
public:
    // Skin images of the "Vol" button.
    static constexpr int kImageSoundOn = 1094;
    static constexpr int kImageMuted = 1095;

    // isBusy: the main window's busy flag; a release is ignored while it is set.
    CVolumeController(IVolumeControl& mixer, std::function<bool()> isBusy = {},
                      QObject* parent = nullptr);

    // Puts the mixer's range and current volume into the slider, switches it
    // to percentage tooltips and connects its press, track and release.
    void Setup(CBitSlider* slider);

    void OnSliderPress(int64_t pos);
    void OnSliderTrack(int64_t pos);
    void OnSliderRelease(int64_t pos);
    // Button "Vol".
    void OnMute();

    bool IsMuted() const { return m_bMute; }
    int MuteImage() const { return m_bMute ? kImageMuted : kImageSoundOn; }

signals:
    // The "Vol" button's image changed (kImageSoundOn or kImageMuted).
    void muteImageChanged(int image);

private:
    IVolumeControl& m_mixer;
    std::function<bool()> m_isBusy;
    QPointer<CBitSlider> m_pSlider;
    bool m_bMute = false;
};

} // namespace qm

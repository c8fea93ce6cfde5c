#include "platform/alsa_mixer.h"

#include "platform/alsa_diagnostics.h"
#include "platform/diagnostics.h"

#include <algorithm>
#include <alsa/asoundlib.h>

namespace qm {

TAlsaMixer::TAlsaMixer(const std::string& device) {
    RouteAlsaErrorsToDiagnostics();
    snd_mixer_t* mixer = nullptr;
    int err = snd_mixer_open(&mixer, 0);
    if (err >= 0) err = snd_mixer_attach(mixer, device.c_str());
    if (err >= 0) err = snd_mixer_selem_register(mixer, nullptr, nullptr);
    if (err >= 0) err = snd_mixer_load(mixer);
    if (err < 0) {
        qmLogAt(5, log_tag::kAlsaMixer, "(Open) mixer \"%s\": %s, no volume control\n",
                device.c_str(), snd_strerror(err));
        if (mixer) snd_mixer_close(mixer);
        return;
    }
    m_pMixer = mixer;

    snd_mixer_selem_id_t* id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    for (const char* name : {"Master", "Speaker", "PCM"}) {
        snd_mixer_selem_id_set_index(id, 0);
        snd_mixer_selem_id_set_name(id, name);
        snd_mixer_elem_t* elem = snd_mixer_find_selem(mixer, id);
        long min = 0, max = 0;
        if (!elem || !snd_mixer_selem_has_playback_volume(elem) ||
            snd_mixer_selem_get_playback_volume_range(elem, &min, &max) < 0 || min >= max)
            continue;
        m_pElem = elem;
        m_strElement = name;
        m_nMin = min;
        m_nMax = max;
        return;
    }
    qmLogAt(5, log_tag::kAlsaMixer, "(Open) mixer \"%s\" has no Master, Speaker or PCM volume\n",
            device.c_str());
}

TAlsaMixer::~TAlsaMixer() {
    if (m_pMixer) snd_mixer_close(m_pMixer);
}

// Picks up changes other programs made since the last call.
void TAlsaMixer::Refresh() const {
    snd_mixer_handle_events(m_pMixer);
}

bool TAlsaMixer::GetRange(int64_t& min, int64_t& max) const {
    if (!m_pElem) return false;
    min = m_nMin;
    max = m_nMax;
    return true;
}

std::optional<int64_t> TAlsaMixer::GetVolume() const {
    if (!m_pElem) return std::nullopt;
    std::lock_guard<std::mutex> guard(m_lock);
    Refresh();
    long value = 0;
    if (snd_mixer_selem_get_playback_volume(m_pElem, SND_MIXER_SCHN_FRONT_LEFT, &value) < 0)
        return std::nullopt;
    return value;
}

bool TAlsaMixer::SetVolume(int64_t value) {
    if (!m_pElem) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    const long clamped = long(std::clamp<int64_t>(value, m_nMin, m_nMax));
    return snd_mixer_selem_set_playback_volume_all(m_pElem, clamped) >= 0;
}

std::optional<bool> TAlsaMixer::GetPlaybackSwitch() const {
    if (!m_pElem) return std::nullopt;
    std::lock_guard<std::mutex> guard(m_lock);
    Refresh();
    if (!snd_mixer_selem_has_playback_switch(m_pElem)) return std::nullopt;
    int on = 0;
    if (snd_mixer_selem_get_playback_switch(m_pElem, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0)
        return std::nullopt;
    return on != 0;
}

bool TAlsaMixer::SetPlaybackSwitch(bool on) {
    if (!m_pElem) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!snd_mixer_selem_has_playback_switch(m_pElem)) return false;
    return snd_mixer_selem_set_playback_switch_all(m_pElem, on ? 1 : 0) >= 0;
}

} // namespace qm

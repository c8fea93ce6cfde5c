#pragma once
// The system mixer's master volume and mute on ALSA: the first of the
// playback elements "Master", "Speaker" and "PCM" that has a volume, on the
// given control device ("default" unless told otherwise). Without a mixer
// or such an element every control is missing: getters give nothing, setters
// report false, and nothing else happens.
//
// The methods match the main window's volume control interface; they may be
// called from any thread, one at a time.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

typedef struct _snd_mixer snd_mixer_t;
typedef struct _snd_mixer_elem snd_mixer_elem_t;

namespace qm {

class TAlsaMixer {
public:
    explicit TAlsaMixer(const std::string& device = "default");
    ~TAlsaMixer();
    TAlsaMixer(const TAlsaMixer&) = delete;
    TAlsaMixer& operator=(const TAlsaMixer&) = delete;

    bool IsAvailable() const { return m_pElem != nullptr; }
    // The element's name, empty when there is none.
    const std::string& ElementName() const { return m_strElement; }

    bool GetRange(int64_t& min, int64_t& max) const;
    // The first channel's volume.
    std::optional<int64_t> GetVolume() const;
    // Sets every channel; a value outside the range is taken as its nearest end.
    bool SetVolume(int64_t value);
    // True while sound is on (not muted); empty when the element has no switch.
    std::optional<bool> GetPlaybackSwitch() const;
    bool SetPlaybackSwitch(bool on);

private:
    void Refresh() const;

    mutable std::mutex m_lock;
    snd_mixer_t* m_pMixer = nullptr;
    snd_mixer_elem_t* m_pElem = nullptr;
    std::string m_strElement;
    long m_nMin = 0;
    long m_nMax = 0;
};

} // namespace qm

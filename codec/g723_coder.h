#pragma once
// The G.723 24 kbit/s ADPCM coder behind the type 1 audio decoder: 3-bit
// codes decoded with the ITU-T reference's tables (which G.726 took over as
// its 24 kbit/s rate), the state carried from call to call.

#include "codec/g726.h"

#include <cstdint>

namespace qm {

class CG723Coder {
public:
    CG723Coder() { G726Reset(m_decoder, 3); }
    virtual ~CG723Coder() = default;

    // Decodes one 3-bit code into a 16-bit linear sample: the reconstructed
    // signal, limited to 14 bits so that it cannot wrap, times 4.
    int16_t Decode(unsigned code) { return G726Decode(m_decoder, code); }

    const G726State& DecoderState() const { return m_decoder; }

private:
    // Only decoding is used; the coder keeps no encoder state.
    G726State m_decoder;
};

} // namespace qm

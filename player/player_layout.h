#pragma once
// The split layouts of the video window: which channel each cell shows and
// where the cells lie for the five display modes (1 single, 2 quad, 3 nine,
// 4 sixteen, 5 thirty-two).

#include "storage/formats.h"

#include "render/video_renderer.h"

#include <array>
#include <cstdint>

namespace qm {

struct ChannelLists {
    int single = 0;
    std::array<int, 4> quad{0, 1, 2, 3};
    std::array<int, 9> nine{0, 1, 2, 3, 4, 5, 6, 7, 8};
    std::array<int, 32> sixteen{}; // the first 16 are used
    std::array<int, 32> thirtyTwo{};
    ChannelLists();

    // Rebuilds every list from the enabled channels (bit n = channel n), in
    // ascending order, -1 filling the rest; the single channel is kept when
    // no channel is enabled.
    void SetFromMask(uint32_t mask);
    // The channels a mode shows (list entries that are not -1), as a mask.
    uint32_t ModeSet(int mode) const;
};

struct Layout {
    std::array<CellRect, kMaxChannels> cell{};
    std::array<int, kMaxChannels> displayed{};
    uint32_t DisplayedMask() const;
};

// Cells for a client area of width x height. A cell whose list entry is -1
// goes to the lowest channel in none of the mode's entries, which takes the
// rectangle but is not displayed.
Layout ComputeLayout(int mode, int width, int height, const ChannelLists& lists);

} // namespace qm

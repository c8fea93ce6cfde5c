#include "player/player_layout.h"

#include <vector>

namespace qm {

ChannelLists::ChannelLists() {
    for (int i = 0; i < 32; ++i)
        sixteen[i] = thirtyTwo[i] = i;
}

void ChannelLists::SetFromMask(uint32_t mask) {
    std::vector<int> on;
    for (int c = 0; c < 32; ++c)
        if (mask & (1u << c)) on.push_back(c);
    if (!on.empty()) single = on[0];
    auto fill = [&](auto& list, size_t used) {
        for (size_t i = 0; i < list.size(); ++i)
            list[i] = (i < used && i < on.size()) ? on[i] : -1;
    };
    fill(quad, 4);
    fill(nine, 9);
    fill(sixteen, 16);
    fill(thirtyTwo, 32);
}

namespace {

// The entries of a mode's list and how many of them are used.
std::pair<const int*, int> Entries(const ChannelLists& lists, int mode) {
    switch (mode) {
    case 2:
        return {lists.quad.data(), 4};
    case 3:
        return {lists.nine.data(), 9};
    case 4:
        return {lists.sixteen.data(), 16};
    case 5:
        return {lists.thirtyTwo.data(), 32};
    default:
        return {&lists.single, 1};
    }
}

CellRect Rect(int left, int top, int width, int height) {
    return CellRect{left, top, left + width, top + height};
}

// Unit column (or row) u of the 8 x 8 grid: columns 6 and 7 share the remainder.
void Unit(int index, int unit, int remainder, int& start, int& size) {
    const int extra6 = remainder / 2;
    const int extra7 = remainder / 2 + remainder % 2;
    start = index * unit + (index == 7 ? extra6 : 0);
    size = unit + (index == 6 ? extra6 : index == 7 ? extra7 : 0);
}

CellRect Mode5Cell(int i, int W, int H) {
    const int u = W / 8, v = H / 8, rw = W % 8, rh = H % 8;
    int col, row, span;
    if (i < 4) {
        col = 3 * (i % 2);
        row = 3 * (i / 2);
        span = 3;
    } else if (i < 16) {
        col = 6 + i % 2;
        row = i / 2 - 2;
        span = 1;
    } else {
        col = i % 8;
        row = 6 + (i - 16) / 8;
        span = 1;
    }
    int left, top, w, h, lastLeft, lastTop;
    Unit(col, u, rw, left, w);
    Unit(row, v, rh, top, h);
    Unit(col + span - 1, u, rw, lastLeft, w);
    Unit(row + span - 1, v, rh, lastTop, h);
    return CellRect{left, top, lastLeft + w, lastTop + h};
}

CellRect CellFor(int mode, int i, int W, int H) {
    switch (mode) {
    case 2: {
        const int w = W / 2, h = H / 2;
        return Rect((i % 2) * w, (i / 2) * h, w, h);
    }
    case 3: {
        const int w = W / 3, h = H / 3;
        const int e1 = W % 3 == 2 ? 1 : 0, e2 = W % 3 != 0 ? 1 : 0;
        const int lefts[3] = {0, w, 2 * w + e1};
        const int widths[3] = {w, w + e1, w + e2};
        return Rect(lefts[i % 3], (i / 3) * h, widths[i % 3], h);
    }
    case 4: {
        const int w = W / 4, h = H / 4;
        return Rect((i % 4) * w, (i / 4) * h, w, h);
    }
    case 5:
        return Mode5Cell(i, W, H);
    default:
        return Rect(0, 0, W, H);
    }
}

} // namespace

uint32_t ChannelLists::ModeSet(int mode) const {
    const auto [entries, count] = Entries(*this, mode);
    uint32_t set = 0;
    for (int i = 0; i < count; ++i)
        if (entries[i] >= 0 && entries[i] < 32) set |= 1u << entries[i];
    return set;
}

uint32_t Layout::DisplayedMask() const {
    uint32_t mask = 0;
    for (int c = 0; c < kMaxChannels; ++c)
        if (displayed[c]) mask |= 1u << c;
    return mask;
}

Layout ComputeLayout(int mode, int width, int height, const ChannelLists& lists) {
    Layout layout;
    if (mode < 1 || mode > 5) return layout;
    const auto [entries, count] = Entries(lists, mode);
    const uint32_t inList = lists.ModeSet(mode);
    // Placeholders are searched among the channels the mode can show.
    const int searchLimit = mode == 2 ? 4 : mode == 3 ? 9 : 32;
    for (int i = 0; i < count; ++i) {
        const CellRect rect = CellFor(mode, i, width, height);
        const int ch = entries[i];
        if (ch >= 0 && ch < 32) {
            layout.cell[ch] = rect;
            layout.displayed[ch] = 1;
            continue;
        }
        for (int c = 0; c < searchLimit; ++c) {
            if (!(inList & (1u << c))) {
                layout.cell[c] = rect;
                break;
            }
        }
    }
    return layout;
}

} // namespace qm

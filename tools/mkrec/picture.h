#pragma once
// A planar 4:2:0 picture in the layout every encoder here takes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm::mkrec {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v; // strides width, width / 2, width / 2

    Picture() = default;
    Picture(int w, int h)
        : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)),
          v(size_t(w / 2) * (h / 2)) {}
    int lumaStride() const { return width; }
    int chromaStride() const { return width / 2; }
};

} // namespace qm::mkrec

#pragma once
// Camera content: pictures that code and decode like a surveillance camera's.
// A still scene with texture and hard edges, a few textured objects crossing
// it at their own speeds, sensor noise that differs in every frame, and light
// that drifts over tens of seconds. The stamp and caption are not drawn here.
//
// Everything costly is worked out once per channel and size: the scene, the
// objects' looks and tables of noise. A frame is then a copy of the scene, the
// objects pasted at their places, and one pass that applies the light and adds
// a slice of a noise table to every row, the slice chosen by hashing the
// channel, frame and row. Only integer arithmetic, so the bytes are the same
// on every machine.

#include "tools/mkrec/picture.h"

#include <cstdint>
#include <vector>

namespace qm::mkrec {

class CameraScene {
public:
    CameraScene(int width, int height, int channel, int fps);

    void draw(Picture& picture, uint32_t frame) const;

    // The light at a frame, as a gain in 1/256 steps.
    int gainAt(uint32_t frame) const;

private:
    struct MovingObject {
        int width = 0, height = 0;
        std::vector<uint8_t> luma; // 0 outside the object's shape
        uint8_t u = 128, v = 128;
        int64_t x0 = 0, y0 = 0; // in quarter pixels, on a path that wraps round
        int vx = 0, vy = 0;     // quarter pixels a frame
    };
    void drawObject(Picture& picture, const MovingObject& object, uint32_t frame) const;
    void addNoise(uint8_t* plane, int width, int height, const std::vector<int8_t>& table,
                  uint32_t frame, uint32_t planeSeed, int gain, int highest) const;

    int m_width, m_height;
    uint32_t m_seed;
    int m_lightPeriod; // frames
    uint32_t m_lightPhase;
    std::vector<uint8_t> m_y, m_u, m_v;
    std::vector<int8_t> m_lumaNoise, m_chromaNoise;
    std::vector<MovingObject> m_objects;
};

} // namespace qm::mkrec

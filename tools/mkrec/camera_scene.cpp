#include "tools/mkrec/camera_scene.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qm::mkrec {
namespace {

// Rows take their noise from anywhere in a table this long, so neighbouring
// rows and successive frames never repeat one another where an encoder could
// find it.
constexpr int kNoiseTableLength = 1 << 16;

uint32_t hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

uint32_t hash(uint32_t a, uint32_t b) {
    return hash(a ^ hash(b + 0x9e3779b9u));
}

class Random {
public:
    explicit Random(uint32_t seed) : m_state(seed) {}
    uint32_t next() { return hash(m_state++, 0x51ed27u); }
    // Uniform in [lo, hi].
    int in(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }

private:
    uint32_t m_state;
};

// 0..256 along 0..256, flat at both ends, so lattice cells blend without seams.
int smoothstep256(int t) {
    return t * t * (768 - 2 * t) >> 16;
}

// Adds one octave of value noise: random levels on a lattice of `cell` pixels,
// blended smoothly in between.
void addValueNoise(std::vector<int>& acc, int w, int h, int cell, int amplitude, uint32_t seed) {
    const int gw = w / cell + 2, gh = h / cell + 2;
    std::vector<int> lattice(size_t(gw) * gh);
    for (size_t i = 0; i < lattice.size(); ++i)
        lattice[i] = int(hash(seed, uint32_t(i)) % uint32_t(2 * amplitude + 1)) - amplitude;
    std::vector<int> weight(static_cast<size_t>(cell));
    for (int t = 0; t < cell; ++t)
        weight[size_t(t)] = smoothstep256(t * 256 / cell);
    for (int y = 0; y < h; ++y) {
        const int* top = &lattice[size_t(y / cell) * gw];
        const int* bottom = top + gw;
        const int wy = weight[size_t(y % cell)];
        int* row = &acc[size_t(y) * w];
        for (int gx = 0, x = 0; x < w; ++gx) {
            for (int i = 0; i < cell && x < w; ++i, ++x) {
                const int wx = weight[size_t(i)];
                const int t = top[gx] * 256 + (top[gx + 1] - top[gx]) * wx;
                const int b = bottom[gx] * 256 + (bottom[gx + 1] - bottom[gx]) * wx;
                row[x] += (t * 256 + (b - t) * wy) >> 16;
            }
        }
    }
}

void addRect(std::vector<int>& acc, int w, int h, int x0, int y0, int rw, int rh, int delta) {
    for (int y = std::max(0, y0); y < std::min(h, y0 + rh); ++y)
        for (int x = std::max(0, x0); x < std::min(w, x0 + rw); ++x)
            acc[size_t(y) * w + x] += delta;
}

// A straight stroke `thickness` pixels wide, such as a pole, a kerb or a road
// marking. Its squares overlap from step to step, so it is gathered in a mask
// first and shades every pixel once.
void addStroke(std::vector<int>& acc, int w, int h, int x0, int y0, int x1, int y1, int thickness,
               int delta) {
    const int steps = std::max({std::abs(x1 - x0), std::abs(y1 - y0), 1});
    std::vector<uint8_t> mask(size_t(w) * h);
    for (int s = 0; s <= steps; ++s) {
        const int left = x0 + (x1 - x0) * s / steps - thickness / 2;
        const int top = y0 + (y1 - y0) * s / steps - thickness / 2;
        for (int y = std::max(0, top); y < std::min(h, top + thickness); ++y)
            for (int x = std::max(0, left); x < std::min(w, left + thickness); ++x)
                mask[size_t(y) * w + x] = 1;
    }
    for (size_t i = 0; i < mask.size(); ++i)
        if (mask[i]) acc[i] += delta;
}

std::vector<uint8_t> toPlane(const std::vector<int>& acc, int lo, int hi) {
    std::vector<uint8_t> plane(acc.size());
    for (size_t i = 0; i < acc.size(); ++i)
        plane[i] = uint8_t(std::clamp(acc[i], lo, hi));
    return plane;
}

// Roughly Gaussian (a sum of four uniform draws) with the given spread in
// tenths of a level, cut at `limit`; the table is longer by a row so that a
// row's slice never wraps.
std::vector<int8_t> noiseTable(uint32_t seed, int sigmaTenths, int limit, int rowLength) {
    std::vector<int8_t> table(size_t(kNoiseTableLength + rowLength));
    // Four draws of 0..255 add up to a spread of 147.
    for (size_t i = 0; i < size_t(kNoiseTableLength); ++i) {
        const uint32_t r = hash(seed, uint32_t(i));
        const int sum = int(r & 255) + int((r >> 8) & 255) + int((r >> 16) & 255) + int(r >> 24);
        const int centred = (sum - 510) * sigmaTenths;
        const int level = (centred + (centred >= 0 ? 735 : -735)) / 1470;
        table[i] = int8_t(std::clamp(level, -limit, limit));
    }
    std::copy_n(table.begin(), rowLength, table.begin() + kNoiseTableLength);
    return table;
}

// Applies the light and adds the noise: where a frame's time goes. Blocks of a
// fixed size, pointers that cannot alias and plain comparisons let the
// compiler use vector instructions even at -O2.
inline uint8_t shade(uint8_t level, int8_t noise, int gain, int highest) {
    int v = ((level * gain) >> 8) + noise;
    v = v < 16 ? 16 : v;
    return uint8_t(v > highest ? highest : v);
}

void shadeRow(uint8_t* __restrict row, const int8_t* __restrict noise, int width, int gain,
              int highest) {
    constexpr int kBlock = 16;
    const int whole = width / kBlock * kBlock;
    for (int x = 0; x < whole; x += kBlock)
        for (int i = x; i < x + kBlock; ++i)
            row[i] = shade(row[i], noise[i], gain, highest);
    for (int i = whole; i < width; ++i)
        row[i] = shade(row[i], noise[i], gain, highest);
}

} // namespace

CameraScene::CameraScene(int width, int height, int channel, int fps)
    : m_width(width), m_height(height), m_seed(hash(uint32_t(channel) + 1, 0xca3e7au)) {
    Random rng(m_seed);
    const int w = width, h = height, cw = w / 2, ch = h / 2;

    // The scene: brighter towards the top (sky, ceiling lights), texture from
    // the size of buildings down to gravel, then hard-edged shapes: walls,
    // windows, brickwork, poles and road markings.
    std::vector<int> acc(size_t(w) * h);
    const int unit = std::max(1, (w + 352) / 704); // pixels at D1 scale
    const int skyLevel = rng.in(120, 160), groundLevel = rng.in(80, 120);
    for (int y = 0; y < h; ++y)
        std::fill_n(&acc[size_t(y) * w], w, skyLevel + (groundLevel - skyLevel) * y / h);
    const int coarse = std::max(8, w / 8);
    const int cells[] = {coarse, coarse / 2, coarse / 4, 16, 8, 4, 2};
    const int amplitudes[] = {28, 20, 14, 10, 8, 7, 6};
    for (int o = 0; o < 7; ++o)
        if (cells[o] >= 2) addValueNoise(acc, w, h, cells[o], amplitudes[o], hash(m_seed, o));
    for (int n = rng.in(5, 9); n > 0; --n) {
        const int rw = rng.in(w / 20, w / 4), rh = rng.in(h / 16, h / 3);
        const int x0 = rng.in(-rw / 2, w - rw / 2), y0 = rng.in(0, h - rh / 2);
        const int delta = rng.in(20, 50) * (rng.next() & 1 ? 1 : -1);
        addRect(acc, w, h, x0, y0, rw, rh, delta);
        switch (rng.next() % 3) {
        case 0: // brickwork: mortar every few rows, joints staggered row by row
            for (int y = 0; y < rh; y += 6 * unit) {
                addRect(acc, w, h, x0, y0 + y, rw, unit, -14);
                for (int x = (y / (6 * unit)) % 2 * 8 * unit; x < rw; x += 16 * unit)
                    addRect(acc, w, h, x0 + x, y0 + y + unit, unit, 5 * unit, -14);
            }
            break;
        case 1: // a grid of windows
            for (int y = 4 * unit; y + 9 * unit < rh; y += 14 * unit)
                for (int x = 4 * unit; x + 7 * unit < rw; x += 12 * unit)
                    addRect(acc, w, h, x0 + x, y0 + y, 7 * unit, 9 * unit, -delta / 2 - 20);
            break;
        default: // plain
            break;
        }
    }
    for (int n = rng.in(2, 4); n > 0; --n) {
        const bool pole = rng.next() & 1;
        const int xa = rng.in(0, w - 1), ya = pole ? rng.in(0, h / 3) : rng.in(h / 2, h - 1);
        const int xb = pole ? xa + rng.in(-8, 8) : rng.in(0, w - 1);
        const int yb = pole ? rng.in(h / 2, h - 1) : rng.in(h / 2, h - 1);
        addStroke(acc, w, h, xa, ya, xb, yb, rng.in(2, 5) * unit, rng.in(30, 50) * (pole ? -1 : 1));
    }
    m_y = toPlane(acc, 24, 225);

    // Colour: a faint tint of the channel's own, blotches and tinted walls.
    for (int plane = 0; plane < 2; ++plane) {
        std::vector<int> c(size_t(cw) * ch, 128 + rng.in(-8, 8));
        addValueNoise(c, cw, ch, std::max(4, cw / 10), 4, hash(m_seed, 100 + plane));
        addValueNoise(c, cw, ch, 4, 2, hash(m_seed, 200 + plane));
        for (int n = rng.in(3, 6); n > 0; --n) {
            const int rw = rng.in(cw / 16, cw / 4), rh = rng.in(ch / 16, ch / 3);
            addRect(c, cw, ch, rng.in(0, cw - 1), rng.in(0, ch - 1), rw, rh, rng.in(-10, 10));
        }
        (plane == 0 ? m_u : m_v) = toPlane(c, 16, 240);
    }

    // Sensor noise: a few levels in luma, about one in chroma.
    m_lumaNoise = noiseTable(hash(m_seed, 300), 22, 6, w);
    m_chromaNoise = noiseTable(hash(m_seed, 301), 9, 3, cw);

    // Light: a smooth swing between about 83 % and 103 % every 40 to 70 seconds.
    m_lightPeriod = std::max(2, fps) * rng.in(40, 70);
    m_lightPhase = rng.next();

    // Two to four objects, people to vans, each at its own pace and height.
    const int objects = 2 + channel % 3;
    const int scale = std::max(1, w * 4 / 704); // quarter pixels of speed per unit
    for (int i = 0; i < objects; ++i) {
        MovingObject o;
        o.height = std::max(8, rng.in(h / 10, h / 3));
        const bool tall = rng.next() & 1;
        o.width =
            std::max(8, tall ? o.height * rng.in(30, 50) / 100 : o.height * rng.in(120, 250) / 100);
        o.width = std::min(o.width, w / 2);
        const bool ellipse = rng.next() & 1;
        std::vector<int> tex(size_t(o.width) * o.height, rng.in(40, 200));
        // Detail in proportion to the object, from panels down to a few pixels.
        const int grain = std::max(2, o.height / 24);
        addValueNoise(tex, o.width, o.height, std::max(2, o.height / 6), 24, hash(m_seed, 400 + i));
        addValueNoise(tex, o.width, o.height, grain, 14, hash(m_seed, 500 + i));
        addValueNoise(tex, o.width, o.height, 2, 6, hash(m_seed, 600 + i));
        for (int y = rng.in(2, 4) * grain; y < o.height; y += rng.in(3, 6) * grain)
            addRect(tex, o.width, o.height, 0, y, o.width, grain, rng.in(-40, 40));
        o.luma = toPlane(tex, 16, 235);
        // Cut the shape out: an ellipse, or a box with its corners rounded off.
        const int a = o.width / 2, b = o.height / 2, corner = std::min(a, b) / 2;
        for (int y = 0; y < o.height; ++y)
            for (int x = 0; x < o.width; ++x) {
                const int dx = x - a, dy = y - b;
                bool outside;
                if (ellipse) {
                    outside = int64_t(dx) * dx * b * b + int64_t(dy) * dy * a * a >
                              int64_t(a) * a * b * b;
                } else {
                    const int ex = std::max(0, std::abs(dx) - (a - corner));
                    const int ey = std::max(0, std::abs(dy) - (b - corner));
                    outside = ex * ex + ey * ey > corner * corner;
                }
                if (outside) o.luma[size_t(y) * o.width + x] = 0;
            }
        o.u = uint8_t(128 + rng.in(-24, 24));
        o.v = uint8_t(128 + rng.in(-24, 24));
        // From a slow walk (half a pixel a frame at D1) to a car (six).
        o.vx = rng.in(2, 24) * scale / 4 * (rng.next() & 1 ? 1 : -1);
        if (o.vx == 0) o.vx = 1;
        o.vy = rng.next() % 3 == 0 ? rng.in(-2, 2) : 0;
        o.x0 = int64_t(rng.in(0, w)) * 4;
        o.y0 = int64_t(o.height + rng.in(h / 6, std::max(h / 6, h - o.height))) * 4;
        m_objects.push_back(std::move(o));
    }
}

int CameraScene::gainAt(uint32_t frame) const {
    const int period = m_lightPeriod;
    const int phase = int((uint64_t(frame) + m_lightPhase) % uint64_t(period));
    const int tri = std::abs(2 * phase - period); // 0..period
    const int t = int(int64_t(tri) * 1024 / period);
    const int smooth = int(int64_t(t) * t * (3 * 1024 - 2 * t) >> 20); // 0..1024
    return 212 + 52 * smooth / 1024;
}

void CameraScene::drawObject(Picture& p, const MovingObject& o, uint32_t frame) const {
    // The path wraps round an area larger than the picture by the object's
    // size, so that it leaves on one side and comes back on the other.
    auto place = [](int64_t start, int speed, uint32_t f, int extent, int size) {
        const int64_t span = int64_t(extent + size) * 4;
        const int64_t at = ((start + int64_t(speed) * f) % span + span) % span;
        return int(at / 4) - size;
    };
    const int left = place(o.x0, o.vx, frame, m_width, o.width);
    const int top = place(o.y0, o.vy, frame, m_height, o.height);
    const int x0 = std::max(0, left), x1 = std::min(m_width, left + o.width);
    const int y0 = std::max(0, top), y1 = std::min(m_height, top + o.height);
    for (int y = y0; y < y1; ++y) {
        const uint8_t* src = &o.luma[size_t(y - top) * o.width];
        uint8_t* dst = &p.y[size_t(y) * m_width];
        for (int x = x0; x < x1; ++x)
            if (const uint8_t s = src[x - left]) dst[x] = s;
    }
    const int cw = m_width / 2;
    for (int cy = (y0 + 1) / 2; cy < y1 / 2; ++cy) {
        const uint8_t* src = &o.luma[size_t(2 * cy - top) * o.width];
        for (int cx = (x0 + 1) / 2; cx < x1 / 2; ++cx) {
            if (!src[2 * cx - left]) continue;
            p.u[size_t(cy) * cw + cx] = o.u;
            p.v[size_t(cy) * cw + cx] = o.v;
        }
    }
}

void CameraScene::addNoise(uint8_t* plane, int width, int height, const std::vector<int8_t>& table,
                           uint32_t frame, uint32_t planeSeed, int gain, int highest) const {
    const uint32_t frameSeed = hash(m_seed ^ planeSeed, frame);
    for (int y = 0; y < height; ++y) {
        const int8_t* noise = &table[hash(frameSeed, uint32_t(y)) % kNoiseTableLength];
        shadeRow(plane + size_t(y) * width, noise, width, gain, highest);
    }
}

void CameraScene::draw(Picture& p, uint32_t frame) const {
    std::memcpy(p.y.data(), m_y.data(), m_y.size());
    std::memcpy(p.u.data(), m_u.data(), m_u.size());
    std::memcpy(p.v.data(), m_v.data(), m_v.size());
    for (const MovingObject& o : m_objects)
        drawObject(p, o, frame);
    addNoise(p.y.data(), m_width, m_height, m_lumaNoise, frame, 1, gainAt(frame), 235);
    addNoise(p.u.data(), m_width / 2, m_height / 2, m_chromaNoise, frame, 2, 256, 240);
    addNoise(p.v.data(), m_width / 2, m_height / 2, m_chromaNoise, frame, 3, 256, 240);
}

} // namespace qm::mkrec

// Camera content as an encoder meets it: a fixed scene under noise that
// changes every frame, light that drifts slowly, and the same bytes every time.

#include "tools/mkrec/camera_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>

using namespace qm::mkrec;

namespace {

Picture drawn(const CameraScene& scene, uint32_t frame) {
    Picture p(176, 144);
    scene.draw(p, frame);
    return p;
}

double meanLuma(const Picture& p) {
    return std::accumulate(p.y.begin(), p.y.end(), 0.0) / double(p.y.size());
}

} // namespace

TEST(CameraScene, NoisyDriftingAndRepeatable) {
    const CameraScene scene(176, 144, 4, 25);
    const Picture a = drawn(scene, 100), b = drawn(scene, 101);
    EXPECT_TRUE(a.y == drawn(CameraScene(176, 144, 4, 25), 100).y) << "not repeatable";
    EXPECT_TRUE(a.v == drawn(CameraScene(176, 144, 4, 25), 100).v) << "not repeatable";

    // Frame to frame: most pixels change, by a sensor's few levels; objects
    // moving across account for the few large changes.
    size_t changed = 0, small = 0, chromaChanged = 0;
    for (size_t i = 0; i < a.y.size(); ++i) {
        const int d = std::abs(int(a.y[i]) - int(b.y[i]));
        changed += d != 0;
        small += d <= 12;
    }
    for (size_t i = 0; i < a.u.size(); ++i)
        chromaChanged += a.u[i] != b.u[i];
    EXPECT_GT(changed, a.y.size() * 6 / 10);
    EXPECT_GT(small, a.y.size() * 85 / 100);
    EXPECT_GT(chromaChanged, a.u.size() / 4);

    // Another camera looks at another scene.
    const Picture other = drawn(CameraScene(176, 144, 5, 25), 100);
    size_t differ = 0;
    for (size_t i = 0; i < a.y.size(); ++i)
        differ += std::abs(int(a.y[i]) - int(other.y[i])) > 12;
    EXPECT_GT(differ, a.y.size() / 2);

    // The light: no step between frames, a clear swing over a minute.
    EXPECT_LT(std::abs(meanLuma(a) - meanLuma(b)), 1.0);
    double darkest = 255, brightest = 0;
    for (uint32_t second = 0; second < 75; second += 5) {
        const double m = meanLuma(drawn(scene, 100 + second * 25));
        darkest = std::min(darkest, m);
        brightest = std::max(brightest, m);
    }
    EXPECT_GT(brightest - darkest, 8.0);
}

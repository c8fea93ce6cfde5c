#include "app/coverage_lanes.h"

#include "app/bit_slider.h"
#include "app/skin.h"

#include <QPainter>

#include <algorithm>
#include <bit>

namespace qm {

namespace {
constexpr int kLaneHeight = 3;
constexpr int kLaneGap = 1;
const QColor kRecorded{58, 181, 240};
const QColor kMissing{60, 60, 66};
const QColor kPosition{255, 255, 255};
} // namespace

CCoverageLanes::CCoverageLanes(const CBitSlider* slider, QWidget* parent)
    : QWidget(parent), m_pSlider(slider) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CCoverageLanes::SetCoverage(CameraCoverage coverage) {
    m_coverage = std::move(coverage);
    update();
}

void CCoverageLanes::SetCameras(uint32_t mask) {
    if (mask == m_nCameras) return;
    m_nCameras = mask;
    update();
}

int CCoverageLanes::HeightFor(uint32_t cameras) {
    const int lanes = std::popcount(cameras);
    return lanes ? lanes * (kLaneHeight + kLaneGap) + kLaneGap : 0;
}

void CCoverageLanes::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), skin::kPanel);
    if (!m_pSlider || !m_nCameras) return;
    const int64_t from = m_pSlider->GetRangeMin();
    const int64_t to = m_pSlider->GetRangeMax();
    if (to <= from) return;
    // The slider's track, in this widget's coordinates (both share their x).
    const QRect track = m_pSlider->ChannelRect();
    const int left = track.left() + m_pSlider->x() - x();
    const int width = std::max(1, track.width());
    auto xOf = [&](int64_t t) {
        return left + int((std::clamp(t, from, to) - from) * width / (to - from));
    };
    int y = kLaneGap;
    for (int c = 0; c < kMaxChannels; ++c) {
        if (!(m_nCameras >> c & 1u)) continue;
        painter.fillRect(QRect(left, y, width, kLaneHeight), kMissing);
        for (const CoverageSpan& span : m_coverage[size_t(c)]) {
            if (int64_t(span.end) <= from || int64_t(span.first) >= to) continue;
            const int x0 = xOf(span.first), x1 = xOf(span.end);
            painter.fillRect(QRect(x0, y, std::max(1, x1 - x0), kLaneHeight), kRecorded);
        }
        y += kLaneHeight + kLaneGap;
    }
    const int at = xOf(m_pSlider->GetPos());
    painter.fillRect(QRect(at, 0, 1, height()), kPosition);
}

} // namespace qm

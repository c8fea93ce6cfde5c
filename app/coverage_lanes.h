#pragma once
// A thin lane for each camera on view, under the timeline: where that camera
// has recording inside the timeline's window, its gaps, and the play position
// across all lanes. It draws from the coverage computed once at the open.

#include "app/camera_coverage.h"

#include <QWidget>

#include <cstdint>

namespace qm {

class CBitSlider;

class CCoverageLanes : public QWidget {
    Q_OBJECT
public:
    // Lanes follow `slider`'s range and its track's place.
    explicit CCoverageLanes(const CBitSlider* slider, QWidget* parent = nullptr);

    void SetCoverage(CameraCoverage coverage);
    // The cameras on view (bit n: channel n), one lane each in camera order.
    void SetCameras(uint32_t mask);
    uint32_t Cameras() const { return m_nCameras; }
    const CameraCoverage& Coverage() const { return m_coverage; }
    // The height the lanes of `cameras` need.
    static int HeightFor(uint32_t cameras);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const CBitSlider* m_pSlider;
    CameraCoverage m_coverage;
    uint32_t m_nCameras = 0;
};

} // namespace qm

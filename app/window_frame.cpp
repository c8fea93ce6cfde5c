// The frameless window's own frame: resizing from its edges and corners,
// maximising by the button or a double-click on the background, the video
// alone on the whole screen, and the size and place remembered between runs.

#include "app/bit_slider.h"
#include "app/coverage_lanes.h"
#include "app/orbiscope_dlg.h"
#include "app/skin.h"
#include "app/window_layout.h"
#include "player/player_ex.h"

#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QWindow>

namespace qm {

namespace {
const char* const kGeometryKey = "window/geometry";
} // namespace

void COrbiscopeDlg::RecordLayout() {
    m_layout.clear();
    m_layout.push_back({m_pPlayer, m_pPlayer->geometry(), Anchor::kGrow});
    for (const auto& [id, control] : m_controls) {
        Anchor anchor = AnchorByPlace(control->geometry());
        if (id == cmd::kTimeline) anchor = Anchor::kBottomWiden;
        if (id == cmd::kEndTimeText) anchor = Anchor::kBottomRight;
        if (id == cmd::kScaleIn || id == cmd::kScaleOut) anchor = Anchor::kBottomCentre;
        m_layout.push_back({control, control->geometry(), anchor});
    }
}

QSize COrbiscopeDlg::ExtraSize() const {
    return QSize(std::max(0, width() - kWidth), std::max(0, height() - kHeight));
}

int COrbiscopeDlg::LanesHeight() const {
    if (!m_pLanes || !IsRecordingOpen()) return 0;
    const int needed = CCoverageLanes::HeightFor(m_pLanes->Cameras());
    const bool show =
        m_nLanesChoice == 1 || (m_nLanesChoice == -1 && ExtraSize().height() >= needed);
    return show ? needed : 0;
}

bool COrbiscopeDlg::CoverageLanesShown() const {
    return LanesHeight() > 0;
}

void COrbiscopeDlg::ShowCoverageLanes(bool show) {
    m_nLanesChoice = show ? 1 : 0;
    LayoutControls();
}

void COrbiscopeDlg::LayoutControls() {
    const QSize extra = ExtraSize();
    for (const auto& [widget, base, anchor] : m_layout)
        widget->setGeometry(Placed(base, anchor, extra));
    // The lanes lie under the timeline, which gives up their height from the
    // video area above it.
    if (const int lanes = LanesHeight()) {
        m_pPlayer->setGeometry(m_pPlayer->geometry().adjusted(0, 0, 0, -lanes));
        const QRect slider = m_pTimeline->geometry().translated(0, -lanes);
        m_pTimeline->setGeometry(slider);
        m_pLanes->setGeometry(slider.left(), slider.bottom() + 1, slider.width(), lanes);
        m_pLanes->show();
    } else if (m_pLanes) {
        m_pLanes->hide();
    }
    if (m_bVideoFullScreen) {
        m_pPlayer->setGeometry(rect());
        m_pPlayer->raise();
    }
}

void COrbiscopeDlg::SetVideoFullScreen(bool on) {
    if (on == m_bVideoFullScreen) return;
    if (on && !IsRecordingOpen()) return;
    m_bVideoFullScreen = on;
    if (on) {
        m_bWasMaximised = isMaximized();
        m_normalGeometry = geometry();
        showFullScreen();
        // Without a window manager nothing acts on the request: the window
        // takes the screen itself.
        if (const QScreen* s = screen(); s && geometry() != s->geometry())
            setGeometry(s->geometry());
    } else {
        if (m_bWasMaximised) {
            showMaximized();
        } else {
            showNormal();
            setGeometry(m_normalGeometry);
        }
    }
    LayoutControls();
    UpdateWindowRegion();
    update();
}

void COrbiscopeDlg::ToggleMaximised() {
    if (m_bVideoFullScreen) return;
    if (isMaximized() || m_bManuallyMaximised) {
        showNormal();
        if (m_bManuallyMaximised) setGeometry(m_normalGeometry);
        m_bManuallyMaximised = false;
    } else {
        m_normalGeometry = geometry();
        showMaximized();
        if (const QScreen* s = screen(); s && !isMaximized()) {
            // No window manager to maximise it: fill the available area.
            setGeometry(s->availableGeometry());
            m_bManuallyMaximised = true;
        }
    }
}

bool COrbiscopeDlg::StartEdgeResize(QMouseEvent* event) {
    if (m_bVideoFullScreen || isMaximized()) return false;
    const Qt::Edges edges = ResizeEdgesAt(event->position().toPoint(), size());
    if (!edges) return false;
    // The window system's own resize when it offers one; else by hand.
    if (QWindow* window = windowHandle(); window && window->startSystemResize(edges)) return true;
    m_resizeEdges = edges;
    m_resizeFrom = geometry();
    m_resizePress = event->globalPosition().toPoint();
    return true;
}

bool COrbiscopeDlg::ContinueEdgeResize(QMouseEvent* event) {
    const Qt::Edges edges = ResizeEdgesAt(event->position().toPoint(), size());
    if (!m_resizeEdges) {
        // The grips show themselves as the pointer passes over them.
        const bool diagonal =
            (edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge));
        const bool falling =
            edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
        if (!edges || m_bVideoFullScreen || isMaximized())
            unsetCursor();
        else if (diagonal)
            setCursor(falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
        else
            setCursor(edges & (Qt::LeftEdge | Qt::RightEdge) ? Qt::SizeHorCursor
                                                             : Qt::SizeVerCursor);
        return false;
    }
    const QPoint d = event->globalPosition().toPoint() - m_resizePress;
    QRect r = m_resizeFrom;
    const QSize least = minimumSize();
    if (m_resizeEdges & Qt::LeftEdge)
        r.setLeft(std::min(r.left() + d.x(), r.right() - least.width() + 1));
    if (m_resizeEdges & Qt::RightEdge)
        r.setRight(std::max(r.right() + d.x(), r.left() + least.width() - 1));
    if (m_resizeEdges & Qt::TopEdge)
        r.setTop(std::min(r.top() + d.y(), r.bottom() - least.height() + 1));
    if (m_resizeEdges & Qt::BottomEdge)
        r.setBottom(std::max(r.bottom() + d.y(), r.top() + least.height() - 1));
    setGeometry(r);
    return true;
}

void COrbiscopeDlg::RememberGeometry(bool remember) {
    m_bRememberGeometry = remember;
    if (!remember) return;
    const QByteArray saved = Settings()->value(QString::fromLatin1(kGeometryKey)).toByteArray();
    if (!saved.isEmpty()) restoreGeometry(saved);
}

void COrbiscopeDlg::SaveGeometry() {
    if (!m_bRememberGeometry) return;
    if (m_bVideoFullScreen) SetVideoFullScreen(false);
    Settings()->setValue(QString::fromLatin1(kGeometryKey), saveGeometry());
}

} // namespace qm

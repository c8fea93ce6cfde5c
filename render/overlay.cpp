#include "render/overlay.h"

#include <cstring>

namespace qm {

namespace {

QRect ToQRect(const CellRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

} // namespace

RectangleOverlay::RectangleOverlay(int left, int top, int right, int bottom, int width,
                                   uint32_t colour)
    : Overlay(colour), m_rect{left, top, right, bottom}, m_nWidth(width < 1 ? 1 : width) {}

void RectangleOverlay::Draw(QPainter& painter) {
    const int l = m_rect.left, t = m_rect.top, r = m_rect.right - 1, b = m_rect.bottom - 1;
    if (r < l || b < t) return;
    const QColor colour = QColor::fromRgba(m_dwColour);
    const int w = m_nWidth;
    // The closed strip (l,t) -> (r,t) -> (r,b) -> (l,b) -> (l,t) as four bands.
    painter.fillRect(QRect(l, t, r - l + 1, w), colour);
    painter.fillRect(QRect(l, b - w + 1, r - l + 1, w), colour);
    painter.fillRect(QRect(l, t, w, b - t + 1), colour);
    painter.fillRect(QRect(r - w + 1, t, w, b - t + 1), colour);
}

OverlayInfo RectangleOverlay::Info() const {
    OverlayInfo info;
    info.kind = OverlayKind::Rectangle;
    info.rect = m_rect;
    info.colour = m_dwColour;
    info.width = m_nWidth;
    return info;
}

void TextOverlayBase::Draw(QPainter& painter) {
    if (!m_font) return;
    const QRect rect = ToQRect(m_rect);
    if (rect.isEmpty()) return;
    painter.save();
    painter.setClipRect(rect);
    painter.setFont(*m_font);
    painter.setPen(QColor::fromRgba(m_dwColour));
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_strText);
    painter.restore();
}

TextOverlay::TextOverlay(const std::optional<QFont>& font, const char* text, CellRect rect,
                         uint32_t colour)
    : TextOverlayBase(font, QString::fromLatin1(text, static_cast<qsizetype>(strnlen(text, 259))),
                      rect, colour) {}

OverlayInfo TextOverlay::Info() const {
    return OverlayInfo{0, OverlayKind::Text, m_rect, m_dwColour, 0, m_strText};
}

namespace {
qsizetype Utf16Length(const char16_t* text, qsizetype max) {
    qsizetype n = 0;
    while (n < max && text[n] != 0)
        ++n;
    return n;
}
} // namespace

TextWOverlay::TextWOverlay(const std::optional<QFont>& font, const char16_t* text, CellRect rect,
                           uint32_t colour)
    : TextOverlayBase(font, QString::fromUtf16(text, Utf16Length(text, 259)), rect, colour) {}

OverlayInfo TextWOverlay::Info() const {
    return OverlayInfo{0, OverlayKind::TextW, m_rect, m_dwColour, 0, m_strText};
}

OverlayStore::~OverlayStore() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_map.clear();
}

void OverlayStore::Insert(int16_t key, std::unique_ptr<Overlay> overlay) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_map[key] = std::move(overlay);
}

void OverlayStore::DrawAll(QPainter& painter) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& [key, overlay] : m_map)
        if (overlay) overlay->Draw(painter);
}

void OverlayStore::DeleteAll() {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& entry : m_map)
        entry.second.reset();
}

void OverlayStore::Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_map.clear();
}

size_t OverlayStore::Size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_map.size();
}

std::vector<OverlayInfo> OverlayStore::Infos() const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<OverlayInfo> infos;
    for (const auto& [key, overlay] : m_map) {
        if (!overlay) continue;
        OverlayInfo info = overlay->Info();
        info.key = key;
        infos.push_back(std::move(info));
    }
    return infos;
}

} // namespace qm

#pragma once
// Overlays: what the renderer draws on top of a channel's picture (the cell
// frame, the title and the time stamp). They live for one draw: the renderer
// adds them, draws them all once and deletes them before the next draw.

#include "render/video_renderer.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qm {

enum class OverlayKind { Rectangle, Text, TextW };

// What an overlay holds, for inspection.
struct OverlayInfo {
    int16_t key = 0;
    OverlayKind kind = OverlayKind::Rectangle;
    CellRect rect;       // the outlined rectangle, or the text's clip rectangle
    uint32_t colour = 0; // ARGB, alpha always 0xFF
    int width = 0;       // line width of a rectangle
    QString text;        // the text of a text overlay
};

class Overlay {
public:
    explicit Overlay(uint32_t colour) : m_dwColour(colour | 0xFF000000u) {}
    virtual ~Overlay() = default;
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;

    virtual void Draw(QPainter& painter) = 0;
    virtual OverlayInfo Info() const = 0;
    uint32_t Colour() const { return m_dwColour; }

protected:
    uint32_t m_dwColour;
};

// An outline of one rectangle. Right and bottom are exclusive, so the outline's
// right column is right - 1 and its bottom row bottom - 1: the frame stays
// inside its cell and meets the picture drawn 6 pixels in without overlap.
class RectangleOverlay : public Overlay {
public:
    RectangleOverlay(int left, int top, int right, int bottom, int width, uint32_t colour);
    void Draw(QPainter& painter) override;
    OverlayInfo Info() const override;

private:
    CellRect m_rect;
    int m_nWidth;
};

// Left- and top-aligned single-line text clipped to its rectangle. A text
// overlay without a font draws nothing.
class TextOverlayBase : public Overlay {
public:
    TextOverlayBase(const std::optional<QFont>& font, QString text, CellRect rect, uint32_t colour)
        : Overlay(colour), m_font(font), m_strText(std::move(text)), m_rect(rect) {}
    void Draw(QPainter& painter) override;

protected:
    std::optional<QFont> m_font;
    QString m_strText;
    CellRect m_rect;
};

// 8-bit text (the time stamp): up to 259 characters of a zero-terminated buffer.
class TextOverlay : public TextOverlayBase {
public:
    TextOverlay(const std::optional<QFont>& font, const char* text, CellRect rect, uint32_t colour);
    OverlayInfo Info() const override;
};

// UTF-16 text (the title): up to 259 units of a zero-terminated buffer.
class TextWOverlay : public TextOverlayBase {
public:
    TextWOverlay(const std::optional<QFont>& font, const char16_t* text, CellRect rect,
                 uint32_t colour);
    OverlayInfo Info() const override;
};

// The overlays of one draw by key; ascending keys are the order of addition.
// The store owns its overlays. Its lock guards the map.
class OverlayStore {
public:
    OverlayStore() = default;
    virtual ~OverlayStore();
    OverlayStore(const OverlayStore&) = delete;
    OverlayStore& operator=(const OverlayStore&) = delete;

    void Insert(int16_t key, std::unique_ptr<Overlay> overlay);
    void DrawAll(QPainter& painter);
    // Deletes every overlay; the keys stay until Clear().
    void DeleteAll();
    void Clear();
    size_t Size() const;
    std::vector<OverlayInfo> Infos() const;

private:
    mutable std::mutex m_lock;
    std::map<int16_t, std::unique_ptr<Overlay>> m_map;
};

} // namespace qm

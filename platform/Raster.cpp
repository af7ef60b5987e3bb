#include "platform/Raster.h"

#include <algorithm>
#include <initializer_list>

namespace {
constexpr uint32_t kColourBits = 0x00FFFFFF;

// The boolean function `rop3` of source and destination, bit by bit. No
// brush is ever selected, so the pattern operand is 0.
uint32_t ApplyRop3(uint8_t rop3, uint32_t s, uint32_t d)
{
    uint32_t result = 0;
    for (int k = 0; k < 4; ++k) // indices with P = 0
        if (rop3 >> k & 1)
            result |= ((k & 2) ? s : ~s) & ((k & 1) ? d : ~d);
    return result;
}

uint8_t ForegroundRop3(uint32_t rop) { return static_cast<uint8_t>(rop >> 16); }
uint8_t BackgroundRop3(uint32_t rop4) { return static_cast<uint8_t>(rop4 >> 24); }

// A source pixel as the destination's format sees it.
uint32_t Convert(uint32_t value, const CRasterDC& src, const CRasterDC& dst)
{
    const bool srcMono = src.Selected().IsMonochrome();
    const bool dstMono = dst.Selected().IsMonochrome();
    if (srcMono && !dstMono)
        return value ? dst.GetBkColor() : dst.GetTextColor();
    if (!srcMono && dstMono)
        return value == (src.GetBkColor() & kColourBits) ? 1 : 0;
    return value;
}

struct Span {
    int32_t from;
    int32_t to;
};

// The part of [0, length) that stays inside every (origin, size) bitmap axis.
Span ClipAxis(int32_t length, std::initializer_list<std::pair<int32_t, int32_t>> axes)
{
    Span span{0, length};
    for (const auto& [origin, size] : axes) {
        span.from = std::max(span.from, -origin);
        span.to = std::min(span.to, size - origin);
    }
    return span;
}

// Combines every pixel of the clipped area; `rop3At` picks the operation.
template <typename PickRop>
void Transfer(CRasterDC& dst, int32_t x, int32_t y, int32_t w, int32_t h, const CRasterDC& src,
              int32_t sx, int32_t sy, const CRasterBitmap* mask, int32_t mx, int32_t my, PickRop rop3At)
{
    CRasterBitmap& d = dst.Selected();
    const CRasterBitmap& s = src.Selected();
    const int32_t mw = mask ? mask->Width() : w;
    const int32_t mh = mask ? mask->Height() : h;
    const Span cols = ClipAxis(w, {{x, d.Width()}, {sx, s.Width()}, {mask ? mx : 0, mw}});
    const Span rows = ClipAxis(h, {{y, d.Height()}, {sy, s.Height()}, {mask ? my : 0, mh}});
    const uint32_t keep = d.IsMonochrome() ? 1u : kColourBits;
    for (int32_t j = rows.from; j < rows.to; ++j)
        for (int32_t i = cols.from; i < cols.to; ++i) {
            const uint32_t sv = Convert(s.Pixel(sx + i, sy + j), src, dst);
            const uint8_t rop3 = rop3At(mask ? mask->Pixel(mx + i, my + j) : 1u);
            d.SetPixel(x + i, y + j, ApplyRop3(rop3, sv, d.Pixel(x + i, y + j)) & keep);
        }
}
} // namespace

CRasterBitmap::CRasterBitmap(int32_t width, int32_t height, Format format)
    : m_width(std::max(width, 0)), m_height(std::max(height, 0)), m_format(format),
      m_pixels(static_cast<size_t>(m_width) * m_height, 0)
{
}

void CRasterBitmap::SetPixel(int32_t x, int32_t y, uint32_t value)
{
    m_pixels[Index(x, y)] = IsMonochrome() ? (value & 1u) : (value & kColourBits);
}

CRasterDC::CRasterDC() = default;

std::unique_ptr<CRasterDC> CRasterDC::CreateCompatible(const CRasterDC& other)
{
    auto dc = std::make_unique<CRasterDC>();
    dc->m_maskBltSupported = other.m_maskBltSupported;
    return dc;
}

CRasterBitmap* CRasterDC::SelectBitmap(CRasterBitmap* bitmap)
{
    CRasterBitmap* previous = m_selected;
    m_selected = bitmap ? bitmap : &m_stock;
    return previous;
}

ColorRef CRasterDC::SetBkColor(ColorRef colour)
{
    const ColorRef previous = m_bkColour;
    m_bkColour = colour & kColourBits;
    return previous;
}

ColorRef CRasterDC::SetTextColor(ColorRef colour)
{
    const ColorRef previous = m_textColour;
    m_textColour = colour & kColourBits;
    return previous;
}

std::unique_ptr<CRasterBitmap> CreateCompatibleBitmap(const CRasterDC&, int32_t width, int32_t height)
{
    return std::make_unique<CRasterBitmap>(width, height, CRasterBitmap::Format::Colour);
}

std::unique_ptr<CRasterBitmap> CreateMonochromeBitmap(int32_t width, int32_t height)
{
    return std::make_unique<CRasterBitmap>(width, height, CRasterBitmap::Format::Monochrome);
}

void FillSolidRect(CRasterDC& dc, const Rect& rect, ColorRef colour)
{
    CRasterBitmap& b = dc.Selected();
    const Rect area = Intersect(rect, Rect{0, 0, b.Width(), b.Height()});
    const uint32_t value =
        b.IsMonochrome() ? ((colour & kColourBits) == dc.GetBkColor() ? 1u : 0u) : colour;
    for (int32_t y = area.top; y < area.bottom; ++y)
        for (int32_t x = area.left; x < area.right; ++x)
            b.SetPixel(x, y, value);
}

bool BitBlt(CRasterDC& dst, int32_t x, int32_t y, int32_t w, int32_t h, const CRasterDC& src,
            int32_t sx, int32_t sy, uint32_t rop)
{
    const uint8_t rop3 = ForegroundRop3(rop);
    Transfer(dst, x, y, w, h, src, sx, sy, nullptr, 0, 0, [rop3](uint32_t) { return rop3; });
    return true;
}

bool MaskBlt(CRasterDC& dst, int32_t x, int32_t y, int32_t w, int32_t h, const CRasterDC& src,
             int32_t sx, int32_t sy, const CRasterBitmap* mask, int32_t mx, int32_t my, uint32_t rop4)
{
    if (!dst.MaskBltSupported())
        return false;
    if (!mask)
        return BitBlt(dst, x, y, w, h, src, sx, sy, rop4);
    if (!mask->IsMonochrome())
        return false;
    const uint8_t fore = ForegroundRop3(rop4);
    const uint8_t back = BackgroundRop3(rop4);
    Transfer(dst, x, y, w, h, src, sx, sy, mask, mx, my,
             [fore, back](uint32_t bit) { return bit ? fore : back; });
    return true;
}

CPaintContext::CPaintContext(int32_t width, int32_t height, ColorRef screenColour,
                             CRasterBitmap* image)
    : m_screen(width, height, CRasterBitmap::Format::Colour), m_image(image)
{
    SelectBitmap(&m_screen);
    FillSolidRect(*this, GetClientRect(), screenColour);
}

#pragma once
// A small raster layer in the manner of the platform's painting services:
// bitmaps, memory contexts with a selected bitmap and their colours, solid
// fills, block transfers with raster operations and the masked transfer.
#include "platform/Geometry.h"

#include <cstdint>
#include <memory>
#include <vector>

// A colour as the platform stores it: 0x00BBGGRR.
using ColorRef = uint32_t;

constexpr ColorRef Rgb(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<ColorRef>(r) | static_cast<ColorRef>(g) << 8 | static_cast<ColorRef>(b) << 16;
}
constexpr uint8_t RedOf(ColorRef c) { return static_cast<uint8_t>(c); }
constexpr uint8_t GreenOf(ColorRef c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t BlueOf(ColorRef c) { return static_cast<uint8_t>(c >> 16); }

constexpr ColorRef kBlack = 0x00000000;
constexpr ColorRef kWhite = 0x00FFFFFF;

// Raster operations: bits 16..23 hold the boolean function of pattern,
// source and destination, indexed by (P << 2 | S << 1 | D).
constexpr uint32_t kSrcCopy = 0x00CC0020;      // S
constexpr uint32_t kSrcAnd = 0x008800C6;       // S AND D
constexpr uint32_t kSrcPaint = 0x00EE0086;     // S OR D
constexpr uint32_t kDstAndNotSrc = 0x00220326; // D AND NOT S

// A bitmap of 32-bit colours or of single bits (0 or 1 per pixel).
class CRasterBitmap {
public:
    enum class Format { Colour, Monochrome };

    // Every pixel starts as 0 (black, or a 0 bit).
    CRasterBitmap(int32_t width, int32_t height, Format format);

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    Format GetFormat() const { return m_format; }
    bool IsMonochrome() const { return m_format == Format::Monochrome; }

    uint32_t Pixel(int32_t x, int32_t y) const { return m_pixels[Index(x, y)]; }
    void SetPixel(int32_t x, int32_t y, uint32_t value);
    const std::vector<uint32_t>& Pixels() const { return m_pixels; }

private:
    size_t Index(int32_t x, int32_t y) const { return static_cast<size_t>(y) * m_width + x; }

    int32_t m_width;
    int32_t m_height;
    Format m_format;
    std::vector<uint32_t> m_pixels;
};

// A painting context: a selected bitmap to draw into, a background and a
// text colour used when bits become colours and colours become bits.
class CRasterDC {
public:
    // A fresh memory context: white background, black text and a 1 x 1
    // monochrome bitmap selected, like the platform gives.
    CRasterDC();
    virtual ~CRasterDC() = default;
    CRasterDC(const CRasterDC&) = delete;
    CRasterDC& operator=(const CRasterDC&) = delete;

    // A fresh memory context on the same device as `other`.
    static std::unique_ptr<CRasterDC> CreateCompatible(const CRasterDC& other);

    // Selects `bitmap` (the context's own 1 x 1 bitmap when null) and
    // returns the one selected before.
    CRasterBitmap* SelectBitmap(CRasterBitmap* bitmap);
    CRasterBitmap& Selected() const { return *m_selected; }

    ColorRef SetBkColor(ColorRef colour);
    ColorRef GetBkColor() const { return m_bkColour; }
    ColorRef SetTextColor(ColorRef colour);
    ColorRef GetTextColor() const { return m_textColour; }

    // Whether the device can do masked transfers; contexts made compatible
    // with this one inherit it. Switched off to exercise the fallback.
    bool MaskBltSupported() const { return m_maskBltSupported; }
    void SetMaskBltSupported(bool supported) { m_maskBltSupported = supported; }

private:
    CRasterBitmap m_stock{1, 1, CRasterBitmap::Format::Monochrome};
    CRasterBitmap* m_selected = &m_stock;
    ColorRef m_bkColour = kWhite;
    ColorRef m_textColour = kBlack;
    bool m_maskBltSupported = true;
};

// A colour bitmap for the device of `dc`.
std::unique_ptr<CRasterBitmap> CreateCompatibleBitmap(const CRasterDC& dc, int32_t width, int32_t height);
// A bitmap of 1 plane and 1 bit per pixel.
std::unique_ptr<CRasterBitmap> CreateMonochromeBitmap(int32_t width, int32_t height);

// Fills `rect` of the selected bitmap with `colour` (in a monochrome bitmap:
// 1 where the colour equals the background colour, like a transfer).
void FillSolidRect(CRasterDC& dc, const Rect& rect, ColorRef colour);

// Transfers w x h pixels from (sx, sy) of `src` to (x, y) of `dst` with a
// raster operation, converting between colour and monochrome: a colour
// pixel equal to the source's background colour becomes 1, any other 0; a
// 0 bit becomes the destination's text colour, a 1 bit its background colour.
// The area is clipped to both bitmaps.
bool BitBlt(CRasterDC& dst, int32_t x, int32_t y, int32_t w, int32_t h, const CRasterDC& src,
            int32_t sx, int32_t sy, uint32_t rop);

// Like BitBlt, with a four-operand code: the foreground operation (bits
// 16..23 of `rop4`) where the monochrome `mask` (at mx, my) is 1 and the
// background operation (bits 24..31) where it is 0.
// Fails when the destination's device has no masked transfer or the mask is
// not monochrome; without a mask it is BitBlt with the foreground operation.
bool MaskBlt(CRasterDC& dst, int32_t x, int32_t y, int32_t w, int32_t h, const CRasterDC& src,
             int32_t sx, int32_t sy, const CRasterBitmap* mask, int32_t mx, int32_t my, uint32_t rop4);

// What a bitmap control paints into: the control's area on screen, holding
// what is there now, plus the control's current bitmap and client rectangle.
class CPaintContext : public CRasterDC {
public:
    // `image` is the control's bitmap or null; it must outlive the context.
    CPaintContext(int32_t width, int32_t height, ColorRef screenColour, CRasterBitmap* image);

    // The control's current bitmap (null when it has none).
    CRasterBitmap* GetImage() const { return m_image; }
    Rect GetClientRect() const { return {0, 0, m_screen.Width(), m_screen.Height()}; }
    CRasterBitmap& Screen() { return m_screen; }
    const CRasterBitmap& Screen() const { return m_screen; }

    // Asks for the plain static control's painting instead.
    void PaintDefault() { m_defaultPainting = true; }
    bool DefaultPaintingRequested() const { return m_defaultPainting; }

private:
    CRasterBitmap m_screen;
    CRasterBitmap* m_image;
    bool m_defaultPainting = false;
};

// Receives the paint requests of a bitmap control.
class IPaintHandler {
public:
    virtual ~IPaintHandler() = default;
    virtual void OnPaint(CPaintContext& context) = 0;
};

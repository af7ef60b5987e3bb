// The raster layer: contexts and their colours, raster operations, the
// conversions between colour and monochrome, clipping and the masked transfer.
#include "platform/Raster.h"

#include <gtest/gtest.h>

namespace {
using Format = CRasterBitmap::Format;

// A colour bitmap whose pixels all differ, from a seed.
CRasterBitmap Pattern(int32_t w, int32_t h, uint32_t seed)
{
    CRasterBitmap b(w, h, Format::Colour);
    uint32_t v = seed;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            v = v * 1664525u + 1013904223u;
            b.SetPixel(x, y, v >> 8);
        }
    return b;
}

CRasterBitmap Bits(int32_t w, int32_t h, uint32_t seed)
{
    CRasterBitmap b(w, h, Format::Monochrome);
    const CRasterBitmap p = Pattern(w, h, seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            b.SetPixel(x, y, p.Pixel(x, y) >> 5 & 1);
    return b;
}

struct Selected {
    explicit Selected(CRasterBitmap& b) { dc.SelectBitmap(&b); }
    CRasterDC dc;
};

TEST(RasterContext, FreshContextsStartWhiteOnBlackWithAOnePixelMonochromeBitmap)
{
    CRasterDC dc;
    EXPECT_EQ(dc.GetBkColor(), Rgb(255, 255, 255));
    EXPECT_EQ(dc.GetTextColor(), Rgb(0, 0, 0));
    EXPECT_TRUE(dc.Selected().IsMonochrome());
    EXPECT_EQ(dc.Selected().Width(), 1);

    CRasterBitmap b(4, 3, Format::Colour);
    CRasterBitmap* stock = dc.SelectBitmap(&b);
    EXPECT_EQ(&dc.Selected(), &b);
    EXPECT_EQ(dc.SelectBitmap(stock), &b);
    EXPECT_EQ(&dc.Selected(), stock);

    EXPECT_EQ(dc.SetBkColor(Rgb(1, 2, 3)), Rgb(255, 255, 255));
    EXPECT_EQ(dc.SetTextColor(Rgb(4, 5, 6)), Rgb(0, 0, 0));
    EXPECT_EQ(dc.GetBkColor(), Rgb(1, 2, 3));
    EXPECT_EQ(dc.GetTextColor(), Rgb(4, 5, 6));
}

TEST(RasterContext, ColoursAreStoredAsRedGreenBlueFromTheLowByte)
{
    EXPECT_EQ(Rgb(255, 0, 255), 0x00FF00FFu);
    EXPECT_EQ(Rgb(0x12, 0x34, 0x56), 0x00563412u);
    EXPECT_EQ(RedOf(0x00563412u), 0x12);
    EXPECT_EQ(GreenOf(0x00563412u), 0x34);
    EXPECT_EQ(BlueOf(0x00563412u), 0x56);
    // The top byte is not part of a colour.
    CRasterBitmap b(1, 1, Format::Colour);
    b.SetPixel(0, 0, 0xFF123456u);
    EXPECT_EQ(b.Pixel(0, 0), 0x00123456u);
}

TEST(RasterContext, CompatibleContextsInheritMaskedTransferSupport)
{
    CPaintContext paint(2, 2, kWhite, nullptr);
    EXPECT_TRUE(CRasterDC::CreateCompatible(paint)->MaskBltSupported());
    paint.SetMaskBltSupported(false);
    auto dc = CRasterDC::CreateCompatible(paint);
    EXPECT_FALSE(dc->MaskBltSupported());
    EXPECT_EQ(dc->GetBkColor(), kWhite);
    EXPECT_FALSE(CreateCompatibleBitmap(paint, 3, 2)->IsMonochrome());
    EXPECT_TRUE(CreateMonochromeBitmap(3, 2)->IsMonochrome());
}

TEST(RasterTransfer, RasterOperationsCombineColourPixelsBitwise)
{
    struct Case {
        uint32_t rop;
        uint32_t (*expected)(uint32_t s, uint32_t d);
    };
    const Case cases[] = {
        {kSrcCopy, [](uint32_t s, uint32_t) { return s; }},
        {kSrcAnd, [](uint32_t s, uint32_t d) { return s & d; }},
        {kSrcPaint, [](uint32_t s, uint32_t d) { return s | d; }},
        {kDstAndNotSrc, [](uint32_t s, uint32_t d) { return d & ~s & 0x00FFFFFFu; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rop);
        CRasterBitmap src = Pattern(7, 5, 1);
        CRasterBitmap dst = Pattern(7, 5, 2);
        const CRasterBitmap before = dst;
        Selected s(src), d(dst);
        EXPECT_TRUE(BitBlt(d.dc, 0, 0, 7, 5, s.dc, 0, 0, c.rop));
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 7; ++x)
                ASSERT_EQ(dst.Pixel(x, y), c.expected(src.Pixel(x, y), before.Pixel(x, y)));
    }
}

TEST(RasterTransfer, ColourToMonochromeMarksThePixelsEqualToTheSourceBackground)
{
    CRasterBitmap src(4, 1, Format::Colour);
    src.SetPixel(0, 0, Rgb(255, 0, 255));
    src.SetPixel(1, 0, Rgb(255, 0, 254));
    src.SetPixel(2, 0, Rgb(254, 0, 255));
    src.SetPixel(3, 0, Rgb(255, 1, 255));
    CRasterBitmap dst(4, 1, Format::Monochrome);
    Selected s(src), d(dst);
    s.dc.SetBkColor(Rgb(255, 0, 255));
    d.dc.SetBkColor(Rgb(0, 0, 0)); // the destination's colours play no part
    BitBlt(d.dc, 0, 0, 4, 1, s.dc, 0, 0, kSrcCopy);
    EXPECT_EQ(dst.Pixels(), (std::vector<uint32_t>{1, 0, 0, 0}));

    s.dc.SetBkColor(Rgb(255, 0, 254));
    BitBlt(d.dc, 0, 0, 4, 1, s.dc, 0, 0, kSrcCopy);
    EXPECT_EQ(dst.Pixels(), (std::vector<uint32_t>{0, 1, 0, 0}));
}

TEST(RasterTransfer, MonochromeToColourUsesTheDestinationsTextAndBackground)
{
    CRasterBitmap src(2, 1, Format::Monochrome);
    src.SetPixel(1, 0, 1);
    CRasterBitmap dst = Pattern(2, 1, 3);
    const CRasterBitmap before = dst;
    Selected s(src), d(dst);
    s.dc.SetBkColor(Rgb(9, 9, 9)); // the source's colours play no part
    d.dc.SetTextColor(Rgb(10, 20, 30));
    d.dc.SetBkColor(Rgb(40, 50, 60));
    BitBlt(d.dc, 0, 0, 2, 1, s.dc, 0, 0, kSrcCopy);
    EXPECT_EQ(dst.Pixel(0, 0), Rgb(10, 20, 30));
    EXPECT_EQ(dst.Pixel(1, 0), Rgb(40, 50, 60));

    // Fresh colours: 0 is black and 1 white, so AND keeps or clears.
    CRasterDC fresh;
    fresh.SelectBitmap(&dst);
    dst = before;
    BitBlt(fresh, 0, 0, 2, 1, s.dc, 0, 0, kSrcAnd);
    EXPECT_EQ(dst.Pixel(0, 0), 0u);
    EXPECT_EQ(dst.Pixel(1, 0), before.Pixel(1, 0));
}

TEST(RasterTransfer, MonochromeToMonochromeCombinesBits)
{
    CRasterBitmap src = Bits(9, 4, 5);
    CRasterBitmap dst = Bits(9, 4, 6);
    const CRasterBitmap before = dst;
    Selected s(src), d(dst);
    BitBlt(d.dc, 0, 0, 9, 4, s.dc, 0, 0, kDstAndNotSrc);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 9; ++x)
            ASSERT_EQ(dst.Pixel(x, y), before.Pixel(x, y) & (src.Pixel(x, y) ^ 1u));
}

TEST(RasterTransfer, TransfersAreClippedToBothBitmaps)
{
    CRasterBitmap src = Pattern(3, 2, 7);
    CRasterBitmap dst = Pattern(5, 4, 8);
    const CRasterBitmap before = dst;
    Selected s(src), d(dst);
    // Larger than the source and partly off the destination.
    EXPECT_TRUE(BitBlt(d.dc, 3, 1, 10, 10, s.dc, 0, 0, kSrcCopy));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            const bool covered = x >= 3 && y >= 1 && y < 3;
            ASSERT_EQ(dst.Pixel(x, y), covered ? src.Pixel(x - 3, y - 1) : before.Pixel(x, y));
        }
    // A negative destination origin skips the source's first pixels.
    dst = before;
    BitBlt(d.dc, -1, 0, 3, 1, s.dc, 0, 0, kSrcCopy);
    EXPECT_EQ(dst.Pixel(0, 0), src.Pixel(1, 0));
    EXPECT_EQ(dst.Pixel(1, 0), src.Pixel(2, 0));
    EXPECT_EQ(dst.Pixel(2, 0), before.Pixel(2, 0));
}

TEST(RasterTransfer, FillSolidRectIsClippedToTheBitmap)
{
    CRasterBitmap b = Pattern(4, 4, 9);
    const CRasterBitmap before = b;
    Selected d(b);
    FillSolidRect(d.dc, {2, -3, 9, 2}, Rgb(1, 2, 3));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            ASSERT_EQ(b.Pixel(x, y), x >= 2 && y < 2 ? Rgb(1, 2, 3) : before.Pixel(x, y));
}

TEST(RasterMaskedTransfer, MaskOneKeepsTheDestinationAndZeroCopiesTheSource)
{
    CRasterBitmap src = Pattern(6, 5, 10);
    CRasterBitmap dst = Pattern(6, 5, 11);
    const CRasterBitmap before = dst;
    const CRasterBitmap mask = Bits(6, 5, 12);
    Selected s(src), d(dst);
    EXPECT_TRUE(MaskBlt(d.dc, 0, 0, 6, 5, s.dc, 0, 0, &mask, 0, 0, 0xCCAA0020));
    int kept = 0;
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            kept += mask.Pixel(x, y) ? 1 : 0;
            ASSERT_EQ(dst.Pixel(x, y), mask.Pixel(x, y) ? before.Pixel(x, y) : src.Pixel(x, y));
        }
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 30);
}

TEST(RasterMaskedTransfer, ReportsFailureWithoutSupportOrWithAColourMask)
{
    CRasterBitmap src = Pattern(3, 3, 13);
    CRasterBitmap dst = Pattern(3, 3, 14);
    const CRasterBitmap before = dst;
    const CRasterBitmap mask(3, 3, Format::Monochrome);
    const CRasterBitmap colourMask(3, 3, Format::Colour);
    Selected s(src), d(dst);
    EXPECT_FALSE(MaskBlt(d.dc, 0, 0, 3, 3, s.dc, 0, 0, &colourMask, 0, 0, 0xCCAA0020));
    d.dc.SetMaskBltSupported(false);
    EXPECT_FALSE(MaskBlt(d.dc, 0, 0, 3, 3, s.dc, 0, 0, &mask, 0, 0, 0xCCAA0020));
    EXPECT_EQ(dst.Pixels(), before.Pixels());

    // Without a mask it is a plain transfer with the foreground operation.
    d.dc.SetMaskBltSupported(true);
    EXPECT_TRUE(MaskBlt(d.dc, 0, 0, 3, 3, s.dc, 0, 0, nullptr, 0, 0, 0xAACC0020));
    EXPECT_EQ(dst.Pixels(), src.Pixels());
}

TEST(RasterPaintContext, HoldsTheScreenTheImageAndTheClientRectangle)
{
    CRasterBitmap image(2, 2, Format::Colour);
    CPaintContext paint(5, 3, Rgb(212, 208, 200), &image);
    EXPECT_EQ(paint.GetImage(), &image);
    EXPECT_EQ(paint.GetClientRect(), (Rect{0, 0, 5, 3}));
    EXPECT_EQ(&paint.Selected(), &paint.Screen());
    for (uint32_t p : paint.Screen().Pixels())
        ASSERT_EQ(p, Rgb(212, 208, 200));
    EXPECT_FALSE(paint.DefaultPaintingRequested());
    paint.PaintDefault();
    EXPECT_TRUE(paint.DefaultPaintingRequested());
}

} // namespace

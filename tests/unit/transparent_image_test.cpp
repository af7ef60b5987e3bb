// The logo control: where it is created, and how it paints its picture with
// magenta as the transparent colour, by masked transfer or without it.
#include "fakes/FakeWindow.h"
#include "res/Bitmaps.h"
#include "ui/ControlIds.h"
#include "ui/TransparentImage.h"

#include <gtest/gtest.h>

namespace {
using Format = CRasterBitmap::Format;
constexpr ColorRef Magenta = Rgb(255, 0, 255);

// A screen whose pixels all differ, so that a transparent pixel must show
// exactly what was under it.
void FillScreen(CPaintContext& paint, uint32_t seed)
{
    CRasterBitmap& s = paint.Screen();
    for (int32_t y = 0; y < s.Height(); ++y)
        for (int32_t x = 0; x < s.Width(); ++x)
            s.SetPixel(x, y, (seed + 977u * static_cast<uint32_t>(y * s.Width() + x)) & 0x7F7F7F);
}

// A picture with magenta, near-magenta and ordinary pixels in stripes.
CRasterBitmap TestPicture(int32_t w, int32_t h)
{
    const ColorRef colours[] = {Magenta,          Rgb(255, 0, 254), Rgb(254, 0, 255),
                                Rgb(255, 1, 255), Rgb(0, 0, 0),     Rgb(255, 255, 255),
                                Rgb(12, 34, 56),  Magenta};
    CRasterBitmap b(w, h, Format::Colour);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            b.SetPixel(x, y, colours[(x + 3 * y) % 8]);
    return b;
}

// Paints `picture` into a control of w x h over a patterned screen.
CRasterBitmap Paint(CRasterBitmap* picture, int32_t w, int32_t h, bool maskBlt, uint32_t seed = 1)
{
    CPaintContext paint(w, h, 0, picture);
    paint.SetMaskBltSupported(maskBlt);
    FillScreen(paint, seed);
    CTransparentImage image;
    image.OnPaint(paint);
    return paint.Screen();
}

CRasterBitmap ScreenOnly(int32_t w, int32_t h, uint32_t seed = 1)
{
    CPaintContext paint(w, h, 0, nullptr);
    FillScreen(paint, seed);
    return paint.Screen();
}

class TransparentPaintTest : public ::testing::TestWithParam<bool> {};

TEST_P(TransparentPaintTest, MagentaPixelsShowTheScreenAndAllOthersArePaintedUnchanged)
{
    CRasterBitmap picture = TestPicture(13, 7);
    const CRasterBitmap original = picture;
    const CRasterBitmap screen = ScreenOnly(13, 7);
    const CRasterBitmap out = Paint(&picture, 13, 7, GetParam());
    int transparent = 0;
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 13; ++x) {
            const bool isMagenta = picture.Pixel(x, y) == Magenta;
            transparent += isMagenta;
            ASSERT_EQ(out.Pixel(x, y), isMagenta ? screen.Pixel(x, y) : picture.Pixel(x, y))
                << "at " << x << "," << y;
        }
    EXPECT_GT(transparent, 0);
    // The control's own bitmap is only read.
    EXPECT_EQ(picture.Pixels(), original.Pixels());
}

TEST_P(TransparentPaintTest, AControlLargerThanItsBitmapShowsTheScreenInTheRest)
{
    CRasterBitmap picture(4, 3, Format::Colour);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x)
            picture.SetPixel(x, y, Rgb(10, static_cast<uint8_t>(20 + x), static_cast<uint8_t>(30 + y)));
    const CRasterBitmap screen = ScreenOnly(9, 6);
    const CRasterBitmap out = Paint(&picture, 9, 6, GetParam());
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 9; ++x)
            ASSERT_EQ(out.Pixel(x, y), x < 4 && y < 3 ? picture.Pixel(x, y) : screen.Pixel(x, y));
}

TEST_P(TransparentPaintTest, EveryPaintGivesTheSamePicture)
{
    auto logo = LoadRasterBitmap(IDB_LOGO);
    ASSERT_TRUE(logo);
    const CRasterBitmap first = Paint(logo.get(), 100, 38, GetParam(), 5);
    const CRasterBitmap second = Paint(logo.get(), 100, 38, GetParam(), 5);
    EXPECT_EQ(first.Pixels(), second.Pixels());

    // Painting again over its own result changes nothing either.
    CPaintContext paint(100, 38, Rgb(240, 240, 240), logo.get());
    paint.SetMaskBltSupported(GetParam());
    CTransparentImage image;
    image.OnPaint(paint);
    const CRasterBitmap once = paint.Screen();
    image.OnPaint(paint);
    EXPECT_EQ(paint.Screen().Pixels(), once.Pixels());
}

INSTANTIATE_TEST_SUITE_P(MaskedAndFallback, TransparentPaintTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "MaskBlt" : "FiveTransfers"; });

TEST(TransparentImagePaint, MaskedTransferAndFallbackGiveTheSamePixels)
{
    auto logo = LoadRasterBitmap(IDB_LOGO);
    ASSERT_TRUE(logo);
    CRasterBitmap picture = TestPicture(17, 11);
    struct Case {
        CRasterBitmap* bitmap;
        int32_t w, h;
    };
    const Case cases[] = {{logo.get(), 100, 38}, {logo.get(), 130, 50}, {&picture, 17, 11},
                          {&picture, 20, 15}, {&picture, 5, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        const CRasterBitmap masked = Paint(c.bitmap, c.w, c.h, true, 3);
        const CRasterBitmap fallback = Paint(c.bitmap, c.w, c.h, false, 3);
        EXPECT_EQ(masked.Pixels(), fallback.Pixels());
        EXPECT_NE(masked.Pixels(), ScreenOnly(c.w, c.h, 3).Pixels());
    }
}

TEST(TransparentImagePaint, TheLogoLetsTheDialogBackgroundThroughItsMagenta)
{
    BitmapResource resource;
    ASSERT_TRUE(LoadBitmapResource(IDB_LOGO, resource));
    auto logo = LoadRasterBitmap(IDB_LOGO);
    const ColorRef dialogColour = Rgb(239, 239, 239);
    CPaintContext paint(100, 38, dialogColour, logo.get());
    CTransparentImage image;
    image.OnPaint(paint);
    for (int32_t y = 0; y < 38; ++y)
        for (int32_t x = 0; x < 100; ++x) {
            const ColorRef c = resource.ColourAt(x, y);
            ASSERT_EQ(paint.Screen().Pixel(x, y), c == Magenta ? dialogColour : c);
        }
}

TEST(TransparentImagePaint, WithoutABitmapThePlainStaticPaintingRuns)
{
    CPaintContext paint(6, 4, 0, nullptr);
    FillScreen(paint, 8);
    const CRasterBitmap before = paint.Screen();
    CTransparentImage image;
    image.OnPaint(paint);
    EXPECT_TRUE(paint.DefaultPaintingRequested());
    EXPECT_EQ(paint.Screen().Pixels(), before.Pixels());
}

TEST(TransparentImageCreate, PlacesTheControlFromTheDialogsOuterRectangle)
{
    FakeWindow window;
    window.SetWindowRect({200, 100, 716, 759}); // 516 x 659
    CTransparentImage image;
    EXPECT_TRUE(image.Create(window, IDC_LOGO, IDB_LOGO));
    EXPECT_EQ(window.bitmapControlId, IDC_LOGO);
    EXPECT_EQ(window.bitmapControlBitmap, IDB_LOGO);
    EXPECT_EQ(window.bitmapPainter, &image);
    EXPECT_EQ(window.bitmapControlRequested, (Rect{516 - 120, 659 - 98, 516, 659}));
    // The bitmap control sizes itself to the 100 x 38 logo.
    EXPECT_EQ(window.Control(IDC_LOGO).rect, (Rect{396, 561, 496, 599}));
}

TEST(TransparentImageCreate, AnUnknownBitmapStillGivesAControl)
{
    FakeWindow window;
    window.SetWindowRect({0, 0, 300, 200});
    CTransparentImage image;
    EXPECT_FALSE(image.Create(window, 4000, 4001));
    EXPECT_EQ(window.bitmapControlId, 4000);
    EXPECT_EQ(window.bitmapControlRequested, (Rect{280, 140, 300, 200}));
}

} // namespace

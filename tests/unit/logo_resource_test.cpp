// The compiled-in logo, bitmap 138, as the dialog loads it.
#include "res/Bitmaps.h"
#include "ui/ControlIds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {
constexpr ColorRef Magenta = Rgb(255, 0, 255);

TEST(LogoResource, IsA100By38PaletteBitmapOnMagenta)
{
    BitmapResource logo;
    ASSERT_TRUE(LoadBitmapResource(IDB_LOGO, logo));
    EXPECT_EQ(logo.width, 100);
    EXPECT_EQ(logo.height, 38);
    EXPECT_EQ(logo.bitsPerPixel, 8);
    EXPECT_EQ(logo.palette.size(), 256u);
    ASSERT_EQ(logo.indices.size(), 100u * 38u);

    // The whole border is background, exactly magenta.
    for (int32_t x = 0; x < 100; ++x) {
        ASSERT_EQ(logo.ColourAt(x, 0), Magenta);
        ASSERT_EQ(logo.ColourAt(x, 37), Magenta);
    }
    for (int32_t y = 0; y < 38; ++y) {
        ASSERT_EQ(logo.ColourAt(0, y), Magenta);
        ASSERT_EQ(logo.ColourAt(99, y), Magenta);
    }

    // A picture on it: a fair share of the pixels, in more than one colour.
    int drawn = 0;
    std::vector<ColorRef> colours;
    for (int32_t y = 0; y < 38; ++y)
        for (int32_t x = 0; x < 100; ++x)
            if (logo.ColourAt(x, y) != Magenta) {
                ++drawn;
                if (std::find(colours.begin(), colours.end(), logo.ColourAt(x, y)) == colours.end())
                    colours.push_back(logo.ColourAt(x, y));
            }
    EXPECT_GT(drawn, 100 * 38 / 10);
    EXPECT_LT(drawn, 100 * 38 / 2);
    EXPECT_GT(colours.size(), 2u);
}

TEST(LogoResource, LoadsAsAColourBitmapWithThePaletteApplied)
{
    BitmapResource logo;
    ASSERT_TRUE(LoadBitmapResource(IDB_LOGO, logo));
    auto bitmap = LoadRasterBitmap(IDB_LOGO);
    ASSERT_TRUE(bitmap);
    EXPECT_FALSE(bitmap->IsMonochrome());
    ASSERT_EQ(bitmap->Width(), 100);
    ASSERT_EQ(bitmap->Height(), 38);
    for (int32_t y = 0; y < 38; ++y)
        for (int32_t x = 0; x < 100; ++x)
            ASSERT_EQ(bitmap->Pixel(x, y), logo.ColourAt(x, y));
}

TEST(LogoResource, UnknownNumbersLoadNothing)
{
    BitmapResource none;
    EXPECT_FALSE(LoadBitmapResource(139, none));
    EXPECT_FALSE(LoadBitmapResource(0, none));
    EXPECT_EQ(LoadRasterBitmap(137), nullptr);
}

} // namespace

// The application icon: the compiled-in data is what the committed drawing
// produces, and each image is a well-formed masked palette image.
#include "res/AppIcon.h"
#include "res/tools/IconArt.h"
#include "ui/ControlIds.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

TEST(AppIcon, CompiledDataMatchesTheDrawing)
{
    const auto drawn = IconArt::DrawAppIcon();
    const auto compiled = FindIconImages(IDR_APP_ICON);
    ASSERT_EQ(compiled.size(), drawn.size());
    for (size_t i = 0; i < drawn.size(); ++i) {
        const IconImage& c = compiled[i];
        EXPECT_EQ(c.width, drawn[i].width) << i;
        EXPECT_EQ(c.colours, drawn[i].colours) << i;
        EXPECT_EQ(std::vector<uint32_t>(c.palette.begin(), c.palette.end()), drawn[i].palette) << i;
        EXPECT_EQ(std::vector<uint8_t>(c.pixels.begin(), c.pixels.end()), drawn[i].pixels) << i;
        EXPECT_EQ(std::vector<uint8_t>(c.mask.begin(), c.mask.end()), drawn[i].mask) << i;
    }
}

TEST(AppIcon, HasThe32And16PixelImagesInTheirColourDepths)
{
    const auto images = FindIconImages(IDR_APP_ICON);
    std::set<std::pair<int, int>> kinds;
    for (const IconImage& im : images) {
        kinds.insert({im.width, im.colours});
        EXPECT_EQ(im.width, im.height);
        ASSERT_EQ(im.pixels.size(), static_cast<size_t>(im.width * im.height));
        ASSERT_EQ(im.mask.size(), im.pixels.size());
        EXPECT_LE(im.palette.size(), static_cast<size_t>(im.colours));
        EXPECT_GE(im.palette.size(), 4u); // a picture, not a blot
        for (size_t i = 0; i < im.pixels.size(); ++i) {
            if (!im.mask[i]) {
                EXPECT_LT(im.pixels[i], im.palette.size());
            }
        }
        // A round face: corners transparent, centre and the middle of each edge drawn.
        const int n = im.width;
        for (int corner : {0, n - 1, n * (n - 1), n * n - 1})
            EXPECT_EQ(im.mask[corner], 1) << n << " corner " << corner;
        EXPECT_EQ(im.mask[(n / 2) * n + n / 2], 0);
        EXPECT_EQ(im.mask[(n / 2) * n + 1], 0);
    }
    EXPECT_EQ(kinds, (std::set<std::pair<int, int>>{{32, 256}, {32, 16}, {16, 16}}));
    EXPECT_TRUE(FindIconImages(IDB_LOGO).empty());
}

TEST(AppIconArt, PaletteReductionKeepsTheMainColoursAndMergesRareBlends)
{
    std::map<uint32_t, int> histogram = {
        {0xFF0000, 100}, {0xFE0101, 1}, {0x0000FF, 80}, {0x0101FE, 2}, {0xFFFFFF, 50}};
    const auto palette = IconArt::ReducePalette(histogram, 3);
    ASSERT_EQ(palette.size(), 3u);
    const std::set<uint32_t> colours(palette.begin(), palette.end());
    EXPECT_TRUE(colours.count(0xFFFFFF));
    // The rare near-duplicates fold into their main colour, which barely moves.
    for (uint32_t c : palette)
        EXPECT_TRUE(IconArt::Distance2(c, 0xFF0000) < 9 || IconArt::Distance2(c, 0x0000FF) < 9 || c == 0xFFFFFF)
            << std::hex << c;
    EXPECT_EQ(IconArt::ReducePalette(histogram, 16).size(), histogram.size());
}

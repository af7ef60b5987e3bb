#pragma once
// Bitmap resources compiled into the program, found by resource number.
#include "platform/Raster.h"

#include <cstdint>
#include <memory>
#include <vector>

// An 8-bit palette bitmap as stored: one palette index per pixel, rows from
// the top, and the palette as colours.
struct BitmapResource {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;
    std::vector<ColorRef> palette;
    std::vector<uint8_t> indices;

    ColorRef ColourAt(int32_t x, int32_t y) const
    {
        return palette[indices[static_cast<size_t>(y) * width + x]];
    }
};

// False when the program has no bitmap `id`.
bool LoadBitmapResource(int id, BitmapResource& bitmap);

// Bitmap `id` as a colour bitmap of the display, the palette applied; null
// when the program has no such bitmap.
std::unique_ptr<CRasterBitmap> LoadRasterBitmap(int id);

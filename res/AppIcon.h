#pragma once
// The application icon (resource 128) as compiled-in data: each image is a
// palette, one palette index per pixel and a mask (1 = transparent pixel),
// rows from the top.
#include <cstdint>
#include <span>

struct IconImage {
    int width;
    int height;
    int colours;                     // size of the palette it was drawn for (16 or 256)
    std::span<const uint32_t> palette; // 0x00RRGGBB
    std::span<const uint8_t> pixels;   // width * height palette indices
    std::span<const uint8_t> mask;     // width * height, 1 where transparent
};

// The images of an icon resource, largest first; empty when there is none.
std::span<const IconImage> FindIconImages(int resourceId);

// Defined by the generated AppIconData.cpp.
std::span<const IconImage> GeneratedAppIcon();

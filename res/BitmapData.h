#pragma once
// The raw form of a compiled-in palette bitmap, as the generators write it.
#include <cstdint>

struct BitmapData {
    int id;
    int32_t width;
    int32_t height;
    const uint32_t* palette; // 256 colours, 0x00BBGGRR
    const uint8_t* indices;  // width * height, rows from the top
};

// Bitmap 138, the maker's logo (res/LogoBitmap.cpp, written by res/tools/MakeLogo.cpp).
extern const BitmapData kLogoBitmapData;

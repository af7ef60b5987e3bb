#include "res/Bitmaps.h"

#include "res/BitmapData.h"

namespace {
constexpr int kPaletteSize = 256;

const BitmapData* const kBitmaps[] = {&kLogoBitmapData};

const BitmapData* Find(int id)
{
    for (const BitmapData* data : kBitmaps)
        if (data->id == id)
            return data;
    return nullptr;
}
} // namespace

bool LoadBitmapResource(int id, BitmapResource& bitmap)
{
    const BitmapData* data = Find(id);
    if (!data)
        return false;
    bitmap.width = data->width;
    bitmap.height = data->height;
    bitmap.bitsPerPixel = 8;
    bitmap.palette.assign(data->palette, data->palette + kPaletteSize);
    bitmap.indices.assign(data->indices, data->indices + static_cast<size_t>(data->width) * data->height);
    return true;
}

std::unique_ptr<CRasterBitmap> LoadRasterBitmap(int id)
{
    BitmapResource resource;
    if (!LoadBitmapResource(id, resource))
        return nullptr;
    auto bitmap = std::make_unique<CRasterBitmap>(resource.width, resource.height,
                                                  CRasterBitmap::Format::Colour);
    for (int32_t y = 0; y < resource.height; ++y)
        for (int32_t x = 0; x < resource.width; ++x)
            bitmap->SetPixel(x, y, resource.ColourAt(x, y));
    return bitmap;
}

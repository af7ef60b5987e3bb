#include "ui/TransparentImage.h"

#include "res/Bitmaps.h"

namespace {
// Four-operand code: foreground 0xAA (destination kept) where the mask is 1,
// background 0xCC (source copied) where it is 0.
constexpr uint32_t kKeepWhereMasked = 0xCCAA0020;
} // namespace

bool CTransparentImage::Create(IWindow& dialog, int id, int bitmapId)
{
    // The bitmap is loaded only for its size; the control loads its own copy.
    BitmapResource bitmap;
    const bool found = LoadBitmapResource(bitmapId, bitmap);

    const Rect outer = dialog.GetWindowRect();
    const int32_t w = outer.Width();
    const int32_t h = outer.Height();
    const Rect requested{w - bitmap.width - 20, h - bitmap.height - 60, w, h};
    dialog.CreateBitmapControl(id, bitmapId, requested, this);
    return found;
}

void CTransparentImage::OnPaint(CPaintContext& paint)
{
    CRasterBitmap* picture = paint.GetImage();
    if (!picture) {
        paint.PaintDefault();
        return;
    }
    const Rect r = paint.GetClientRect();
    const int32_t w = r.right - r.left;
    const int32_t h = r.bottom - r.top;

    // The picture on a magenta ground: where the control is larger than its
    // bitmap, the rest stays magenta and so comes out transparent.
    auto image = CRasterDC::CreateCompatible(paint);
    auto imageBitmap = CreateCompatibleBitmap(paint, w, h);
    CRasterBitmap* oldImage = image->SelectBitmap(imageBitmap.get());
    auto mask = CRasterDC::CreateCompatible(paint);
    auto maskBitmap = CreateMonochromeBitmap(w, h);
    CRasterBitmap* oldMask = mask->SelectBitmap(maskBitmap.get());
    FillSolidRect(*image, r, TransparentColour);

    auto source = CRasterDC::CreateCompatible(paint);
    CRasterBitmap* oldSource = source->SelectBitmap(picture);
    BitBlt(*image, 0, 0, w, h, *source, 0, 0, kSrcCopy);
    source->SelectBitmap(oldSource);

    // The mask is 1 exactly where the picture is magenta.
    const ColorRef oldBk = image->SetBkColor(TransparentColour);
    BitBlt(*mask, 0, 0, w, h, *image, 0, 0, kSrcCopy);
    image->SetBkColor(oldBk);

    // Mask 1 keeps the screen, 0 copies the picture.
    if (!MaskBlt(paint, 0, 0, w, h, *image, 0, 0, maskBitmap.get(), 0, 0, kKeepWhereMasked))
        CombineWithoutMaskBlt(paint, *image, *mask, w, h);

    mask->SelectBitmap(oldMask);
    image->SelectBitmap(oldImage);
    // Leaving the scope deletes, in reverse order of creation, the source
    // context, the mask bitmap and context, the image bitmap and context.
}

// The masked transfer's result from plain transfers, for devices without it:
// the screen with holes where the picture is opaque, ORed with the picture
// blackened where it is transparent. The mask's bits become black (0) and
// white (1) through the fresh contexts' text and background colours.
void CTransparentImage::CombineWithoutMaskBlt(CPaintContext& paint, CRasterDC& image,
                                              const CRasterDC& mask, int32_t w, int32_t h)
{
    auto temp = CRasterDC::CreateCompatible(paint);
    auto tempBitmap = CreateCompatibleBitmap(paint, w, h);
    CRasterBitmap* oldTemp = temp->SelectBitmap(tempBitmap.get());
    BitBlt(*temp, 0, 0, w, h, paint, 0, 0, kSrcCopy);
    BitBlt(*temp, 0, 0, w, h, mask, 0, 0, kSrcAnd);
    BitBlt(image, 0, 0, w, h, mask, 0, 0, kDstAndNotSrc);
    BitBlt(*temp, 0, 0, w, h, image, 0, 0, kSrcPaint);
    BitBlt(paint, 0, 0, w, h, *temp, 0, 0, kSrcCopy);
    temp->SelectBitmap(oldTemp);
}

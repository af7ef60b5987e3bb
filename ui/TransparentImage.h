#pragma once
#include "platform/Raster.h"
#include "platform/Window.h"

// The logo control: paints its bitmap with magenta as the transparent
// colour, so the dialog's background shows through the picture's background.
class CTransparentImage : public IPaintHandler {
public:
    // The transparent colour, fixed (never read from the picture).
    static constexpr ColorRef TransparentColour = Rgb(255, 0, 255);

    // Creates the child bitmap control `id` showing bitmap `bitmapId` at the
    // dialog's bottom right, placed from the dialog's outer rectangle. False
    // when the program has no such bitmap (the control is created anyway and
    // paints as a plain static control).
    bool Create(IWindow& dialog, int id, int bitmapId);

    // Paints the control's bitmap; no state survives from one paint to the next.
    void OnPaint(CPaintContext& paint) override;

private:
    static void CombineWithoutMaskBlt(CPaintContext& paint, CRasterDC& image, const CRasterDC& mask,
                                      int32_t w, int32_t h);
};

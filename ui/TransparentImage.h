#pragma once
#include "platform/Window.h"

// The logo control: paints its bitmap with magenta as the transparent colour.
class CTransparentImage {
public:
    virtual ~CTransparentImage() = default;
    // Creates the child bitmap control `id` showing bitmap `bitmapId` at the
    // dialog's bottom right, placed from the dialog's outer rectangle.
    bool Create(IWindow& dialog, int id, int bitmapId);
};

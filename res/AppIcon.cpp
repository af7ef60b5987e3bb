#include "res/AppIcon.h"

#include "ui/ControlIds.h"

std::span<const IconImage> FindIconImages(int resourceId)
{
    if (resourceId == IDR_APP_ICON)
        return GeneratedAppIcon();
    return {};
}

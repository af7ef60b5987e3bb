#include "frontends/qt/QtAppIcon.h"

#include "res/AppIcon.h"

#include <map>

QImage ImageFromIcon(const IconImage& icon)
{
    QImage image(icon.width, icon.height, QImage::Format_ARGB32);
    for (int y = 0; y < icon.height; ++y)
        for (int x = 0; x < icon.width; ++x) {
            const size_t i = static_cast<size_t>(y) * icon.width + x;
            const QRgb colour = icon.mask[i] ? 0u : 0xFF000000u | icon.palette[icon.pixels[i]];
            image.setPixel(x, y, colour);
        }
    return image;
}

QIcon IconFromResource(int id)
{
    // Per size, the image with the most colours, as the window system would choose.
    std::map<int, const IconImage*> best;
    for (const IconImage& image : FindIconImages(id)) {
        const IconImage*& chosen = best[image.width];
        if (!chosen || image.colours > chosen->colours)
            chosen = &image;
    }
    QIcon icon;
    for (const auto& [size, image] : best)
        icon.addPixmap(QPixmap::fromImage(ImageFromIcon(*image)));
    return icon;
}

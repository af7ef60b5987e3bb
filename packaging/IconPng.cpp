// Renders the application icon's drawing (res/tools/IconArt.h) as the PNG
// files of a desktop icon theme:
//
//   horolab_icon_png OUTDIR SIZE...   writes OUTDIR/<n>x<n>/apps/horolab.png
//
// The window's own icon is the palette-and-mask image of the icon resource;
// a desktop wants every size and soft edges, so the drawing is rendered here
// at each size with its coverage kept as alpha. 16 pixels uses the bolder
// small-size drawing, as the icon resource does.
#include "res/tools/IconArt.h"

#include <QDir>
#include <QImage>

#include <cstdio>
#include <cstdlib>

namespace {

QImage RenderIcon(int size)
{
    const auto samples =
        IconArt::Render(size, size <= 16 ? IconArt::SmallStyle() : IconArt::LargeStyle());
    QImage image(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const IconArt::Sample& s = samples[static_cast<size_t>(y) * size + x];
            uint32_t argb = 0;
            if (s.alpha > 0) {
                // Render averages premultiplied colour; PNG stores it straight.
                const auto alpha = static_cast<uint32_t>(s.alpha * 255.0 + 0.5);
                argb = alpha << 24 |
                       IconArt::Pack(s.colour.r / s.alpha, s.colour.g / s.alpha, s.colour.b / s.alpha);
            }
            image.setPixel(x, y, argb);
        }
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString file = dir + QStringLiteral("/horolab.png");
        if (!QDir().mkpath(dir) || !RenderIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}

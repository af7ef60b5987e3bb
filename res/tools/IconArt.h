#pragma once
// Draws the application icon: a clock face with its hands at ten past ten and
// a pulse trace across the lower half, in the sizes and colour depths the
// icon resource carries. Header-only so that the generator (IconGen.cpp) and
// the test that checks the committed data against it share one drawing.
//
// Only +, -, *, / and sqrt on doubles are used, so the result is the same
// bit for bit wherever it is compiled.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace IconArt {

struct Rgb {
    double r = 0, g = 0, b = 0;
};

// One drawn image before it is turned into icon data: colour with coverage.
struct Sample {
    Rgb colour; // premultiplied by alpha
    double alpha = 0;
};

struct IconBitmap {
    int width = 0;
    int height = 0;
    int colours = 0;
    std::vector<uint32_t> palette; // 0x00RRGGBB
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> mask; // 1 = transparent
};

inline Rgb Hex(uint32_t rgb)
{
    return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0};
}

inline double Length(double x, double y) { return std::sqrt(x * x + y * y); }

// Distance from (px, py) to the segment (ax, ay)-(bx, by).
inline double SegmentDistance(double px, double py, double ax, double ay, double bx, double by)
{
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return Length(px - (ax + t * dx), py - (ay + t * dy));
}

// Shape parameters in a unit square; the small icon gets bolder strokes.
struct Style {
    double radius;    // of the dial
    double ring;      // width of the dial's rim
    double tickHalf;  // half width of a tick
    bool minorTicks;  // the eight ticks between the quarters
    double pulseY;    // base line of the pulse trace, on a pixel edge or centre
    double pulseHalf; // half width of the pulse trace
    double handHalf;  // half width of the hands
};

// sin and cos of the multiples of 30 degrees, for the ticks.
constexpr double Sin30[12] = {0, 0.5, 0.8660254037844386, 1, 0.8660254037844386, 0.5,
                              0, -0.5, -0.8660254037844386, -1, -0.8660254037844386, -0.5};

const Rgb Face0 = Hex(0xFFFFFF), Face1 = Hex(0xD5E2F1); // face gradient, top left to bottom right
const Rgb Navy = Hex(0x1D3966);
const Rgb TickBlue = Hex(0x3A5C92);
const Rgb PulseRed = Hex(0xD3263A);

// The colour of one sample point, or no colour (alpha 0) outside the dial.
inline Sample Shade(double x, double y, const Style& s)
{
    const double cx = x - 0.5, cy = y - 0.5;
    const double r = Length(cx, cy);
    if (r > s.radius)
        return {};
    const double t = std::clamp((x + y - 0.1) / 1.8, 0.0, 1.0);
    Rgb c{Face0.r + (Face1.r - Face0.r) * t, Face0.g + (Face1.g - Face0.g) * t,
          Face0.b + (Face1.b - Face0.b) * t};

    for (int k = 0; k < 12; ++k) {
        const bool major = k % 3 == 0;
        if (!major && !s.minorTicks)
            continue;
        const double inner = major ? 0.31 : 0.34, outer = s.radius - s.ring + 0.01;
        const double dx = Sin30[k], dy = -Sin30[(k + 3) % 12];
        if (SegmentDistance(cx, cy, dx * inner, dy * inner, dx * outer, dy * outer) <
            (major ? s.tickHalf * 1.4 : s.tickHalf))
            c = TickBlue;
    }

    // The pulse: flat, one spike up and down, flat again.
    static const double trace[][2] = {{0.17, 0}, {0.41, 0}, {0.475, -0.18},
                                      {0.545, 0.11}, {0.60, 0}, {0.83, 0}};
    for (size_t i = 0; i + 1 < std::size(trace); ++i)
        if (SegmentDistance(x, y, trace[i][0], s.pulseY + trace[i][1], trace[i + 1][0],
                            s.pulseY + trace[i + 1][1]) < s.pulseHalf)
            c = PulseRed;

    // Hands at ten past ten: hour towards 10, minute towards 2.
    if (SegmentDistance(cx, cy, 0, 0, -0.8660254037844386 * 0.20, -0.5 * 0.20) < s.handHalf * 1.2 ||
        SegmentDistance(cx, cy, 0, 0, 0.8660254037844386 * 0.31, -0.5 * 0.31) < s.handHalf ||
        r < s.handHalf * 1.6)
        c = Navy;

    if (r > s.radius - s.ring)
        c = Navy;
    return {c, 1.0};
}

// Renders a size x size image with 8 x 8 samples per pixel.
inline std::vector<Sample> Render(int size, const Style& style)
{
    constexpr int Sub = 8;
    std::vector<Sample> out(static_cast<size_t>(size) * size);
    for (int py = 0; py < size; ++py)
        for (int px = 0; px < size; ++px) {
            Sample acc;
            for (int sy = 0; sy < Sub; ++sy)
                for (int sx = 0; sx < Sub; ++sx) {
                    const double x = (px + (sx + 0.5) / Sub) / size;
                    const double y = (py + (sy + 0.5) / Sub) / size;
                    const Sample s = Shade(x, y, style);
                    acc.colour.r += s.colour.r * s.alpha;
                    acc.colour.g += s.colour.g * s.alpha;
                    acc.colour.b += s.colour.b * s.alpha;
                    acc.alpha += s.alpha;
                }
            const double n = Sub * Sub;
            out[static_cast<size_t>(py) * size + px] = {
                {acc.colour.r / n, acc.colour.g / n, acc.colour.b / n}, acc.alpha / n};
        }
    return out;
}

inline uint32_t Pack(double r, double g, double b)
{
    auto byte = [](double v) { return static_cast<uint32_t>(std::clamp(v, 0.0, 1.0) * 255.0 + 0.5); };
    return byte(r) << 16 | byte(g) << 8 | byte(b);
}

inline double Distance2(uint32_t a, uint32_t b)
{
    const double dr = double((a >> 16) & 0xFF) - double((b >> 16) & 0xFF);
    const double dg = double((a >> 8) & 0xFF) - double((b >> 8) & 0xFF);
    const double db = double(a & 0xFF) - double(b & 0xFF);
    return dr * dr + dg * dg + db * db;
}

// Reduces the colours to at most maxColours by merging, again and again, the
// pair whose merge costs least (Ward's criterion: rare blends go first, the
// main colours stay as drawn).
inline std::vector<uint32_t> ReducePalette(const std::map<uint32_t, int>& histogram, int maxColours)
{
    struct Cluster {
        double r, g, b, n;
    };
    std::vector<Cluster> clusters;
    for (const auto& [rgb, count] : histogram)
        clusters.push_back({double((rgb >> 16) & 0xFF), double((rgb >> 8) & 0xFF),
                            double(rgb & 0xFF), double(count)});
    while (clusters.size() > static_cast<size_t>(maxColours)) {
        size_t bi = 0, bj = 1;
        double best = -1;
        for (size_t i = 0; i < clusters.size(); ++i)
            for (size_t j = i + 1; j < clusters.size(); ++j) {
                const Cluster &a = clusters[i], &b = clusters[j];
                const double d = (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) +
                                 (a.b - b.b) * (a.b - b.b);
                const double cost = d * a.n * b.n / (a.n + b.n);
                if (best < 0 || cost < best) {
                    best = cost;
                    bi = i;
                    bj = j;
                }
            }
        Cluster& a = clusters[bi];
        const Cluster& b = clusters[bj];
        const double n = a.n + b.n;
        a = {(a.r * a.n + b.r * b.n) / n, (a.g * a.n + b.g * b.n) / n, (a.b * a.n + b.b * b.n) / n, n};
        clusters.erase(clusters.begin() + static_cast<std::ptrdiff_t>(bj));
    }
    std::vector<uint32_t> palette;
    for (const Cluster& c : clusters)
        palette.push_back(Pack(c.r / 255.0, c.g / 255.0, c.b / 255.0));
    return palette;
}

// Icons carry a one-bit mask: pixels covered less than half are transparent,
// the others keep the colour drawn there, so the rim stays crisp on any background.
inline IconBitmap Quantise(const std::vector<Sample>& image, int size, int maxColours)
{
    std::vector<uint32_t> opaque(image.size());
    IconBitmap out;
    out.width = out.height = size;
    out.colours = maxColours;
    out.mask.resize(image.size());
    std::map<uint32_t, int> histogram;
    for (size_t i = 0; i < image.size(); ++i) {
        const Sample& s = image[i];
        out.mask[i] = s.alpha < 0.5 ? 1 : 0;
        if (out.mask[i])
            continue;
        opaque[i] = Pack(s.colour.r / s.alpha, s.colour.g / s.alpha, s.colour.b / s.alpha);
        ++histogram[opaque[i]];
    }
    out.palette = ReducePalette(histogram, maxColours);
    out.pixels.resize(image.size());
    for (size_t i = 0; i < image.size(); ++i) {
        if (out.mask[i])
            continue;
        size_t best = 0;
        for (size_t p = 1; p < out.palette.size(); ++p)
            if (Distance2(opaque[i], out.palette[p]) < Distance2(opaque[i], out.palette[best]))
                best = p;
        out.pixels[i] = static_cast<uint8_t>(best);
    }
    return out;
}

// The drawing at 32 pixels and more, and the bolder one for 16 pixels.
inline Style LargeStyle() { return {0.47, 0.065, 0.022, true, 22.0 / 32, 1.0 / 32, 0.036}; }
inline Style SmallStyle() { return {0.455, 0.09, 0.04, false, 10.5 / 16, 0.5 / 16, 0.05}; }

// The images of icon resource 128: 32 x 32 in 256 and in 16 colours, 16 x 16 in 16 colours.
inline std::vector<IconBitmap> DrawAppIcon()
{
    const auto big = Render(32, LargeStyle());
    return {Quantise(big, 32, 256), Quantise(big, 32, 16), Quantise(Render(16, SmallStyle()), 16, 16)};
}

} // namespace IconArt

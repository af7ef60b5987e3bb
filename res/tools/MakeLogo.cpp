// Draws the maker's logo, bitmap 138 (100 x 38 pixels, 8 bits per pixel,
// 256-entry palette, magenta background), and writes it as C++ data.
//
//   horolab_make_logo FILE          writes FILE
//   horolab_make_logo --check FILE  exits 1 unless FILE holds what it would write
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {
constexpr int kWidth = 100;
constexpr int kHeight = 38;
constexpr int kScale = 2;      // every font dot becomes 2 x 2 pixels
constexpr int kGlyphRows = 7;

// Palette indices.
constexpr uint8_t kBackground = 0; // magenta, shown as the dialog's background
constexpr uint8_t kInk = 1;
constexpr uint8_t kShadow = 2;
constexpr uint8_t kTick = 3;
constexpr uint8_t kBarFirst = 16;  // a run of the bar's colours

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | g << 8 | b << 16; }

// A small proportional bitmap font with just the letters of the name;
// 'X' is a dot, rows from the top, the x-height is the lower five rows.
struct Glyph {
    char letter;
    const char* rows[kGlyphRows];
};

const Glyph kFont[] = {
    {'V', {"X...X", "X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X.."}},
    {'a', {".....", ".....", ".XXX.", "....X", ".XXXX", "X...X", ".XXXX"}},
    {'n', {".....", ".....", "XXXX.", "X...X", "X...X", "X...X", "X...X"}},
    {'t', {".X..", ".X..", "XXXX", ".X..", ".X..", ".X..", "..XX"}},
    {'r', {".....", ".....", "X.XX.", "XX..X", "X....", "X....", "X...."}},
    {'e', {".....", ".....", ".XXX.", "X...X", "XXXXX", "X....", ".XXXX"}},
    {'l', {"XX.", ".X.", ".X.", ".X.", ".X.", ".X.", "XXX"}},
};

const Glyph* FindGlyph(char c)
{
    for (const Glyph& g : kFont)
        if (g.letter == c)
            return &g;
    return nullptr;
}

int GlyphWidth(const Glyph& g) { return static_cast<int>(std::string(g.rows[0]).size()); }

class Canvas {
public:
    Canvas() : m_pixels(kWidth * kHeight, kBackground) {}

    void Set(int x, int y, uint8_t index)
    {
        if (x >= 0 && x < kWidth && y >= 0 && y < kHeight)
            m_pixels[y * kWidth + x] = index;
    }
    void Fill(int x, int y, int w, int h, uint8_t index)
    {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i)
                Set(i, j, index);
    }
    const std::vector<uint8_t>& Pixels() const { return m_pixels; }

private:
    std::vector<uint8_t> m_pixels;
};

int TextWidth(const std::string& text)
{
    int width = 0;
    for (char c : text)
        width += (GlyphWidth(*FindGlyph(c)) + 1) * kScale;
    return width - kScale;
}

void DrawText(Canvas& canvas, const std::string& text, int x, int y, uint8_t index)
{
    for (char c : text) {
        const Glyph& g = *FindGlyph(c);
        for (int row = 0; row < kGlyphRows; ++row)
            for (int col = 0; col < GlyphWidth(g); ++col)
                if (g.rows[row][col] == 'X')
                    canvas.Fill(x + col * kScale, y + row * kScale, kScale, kScale, index);
        x += (GlyphWidth(g) + 1) * kScale;
    }
}

// The name with a soft shadow, a bar shading from amber to red under it and
// a row of scale ticks like a watch's minute track.
Canvas DrawLogo(std::vector<uint32_t>& palette)
{
    const std::string name = "Vantrel";
    const int textWidth = TextWidth(name);
    const int left = (kWidth - textWidth) / 2;
    Canvas canvas;
    DrawText(canvas, name, left + 1, 7, kShadow);
    DrawText(canvas, name, left, 6, kInk);

    for (int i = 0; i < textWidth; ++i) {
        const int index = kBarFirst + i;
        palette[index] = Rgb(230 - 30 * i / textWidth, 130 - 90 * i / textWidth, 20 + 10 * i / textWidth);
        canvas.Fill(left + i, 24, 1, 3, static_cast<uint8_t>(index));
    }
    for (int i = 0; i <= 12; ++i) {
        const int x = left + i * (textWidth - 1) / 12;
        canvas.Fill(x, 28, 1, i % 3 == 0 ? 5 : 3, kTick);
    }
    return canvas;
}

std::vector<uint32_t> BasePalette()
{
    std::vector<uint32_t> palette(256, 0);
    palette[kBackground] = Rgb(255, 0, 255);
    palette[kInk] = Rgb(22, 44, 112);
    palette[kShadow] = Rgb(150, 152, 165);
    palette[kTick] = Rgb(70, 70, 78);
    return palette;
}

std::string Hex(uint32_t value, int digits)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, static_cast<unsigned>(value));
    return buffer;
}

std::string RenderSource()
{
    std::vector<uint32_t> palette = BasePalette();
    const Canvas canvas = DrawLogo(palette);
    std::ostringstream out;
    out << "// Bitmap 138, the maker's logo. Written by res/tools/MakeLogo.cpp; build the\n"
           "// target horolab_logo_data to write it again.\n"
           "#include \"res/BitmapData.h\"\n\nnamespace {\n"
        << "const uint32_t kPalette[256] = {\n";
    for (size_t i = 0; i < palette.size(); ++i)
        out << (i % 8 == 0 ? "    " : " ") << Hex(palette[i], 8) << ',' << (i % 8 == 7 ? "\n" : "");
    out << "};\n\nconst uint8_t kIndices[" << kWidth << " * " << kHeight << "] = {\n";
    const auto& pixels = canvas.Pixels();
    for (size_t i = 0; i < pixels.size(); ++i)
        out << (i % 20 == 0 ? "    " : " ") << Hex(pixels[i], 2) << ',' << (i % 20 == 19 ? "\n" : "");
    out << "};\n} // namespace\n\n"
        << "extern const BitmapData kLogoBitmapData = {138, " << kWidth << ", " << kHeight
        << ", kPalette, kIndices};\n";
    return out.str();
}

std::string ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

int main(int argc, char** argv)
{
    const std::string source = RenderSource();
    if (argc == 3 && std::string(argv[1]) == "--check") {
        if (ReadFile(argv[2]) == source)
            return 0;
        std::cerr << argv[2] << " is not what the generator writes; build horolab_logo_data\n";
        return 1;
    }
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " [--check] FILE\n";
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << source;
    return out.good() ? 0 : 1;
}

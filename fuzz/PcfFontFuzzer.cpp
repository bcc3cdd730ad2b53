// Fuzzes the virtual sign's PCF bitmap-font reader with arbitrary files. Beyond "no crash": a
// file it takes gives glyphs that fit the font's cell, a failed read leaves no glyphs and says
// why, and a taken font draws a row of its own height without leaving the sign.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/DotMatrix.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "font reader fault: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ledsign::tools;
    PcfFont font;
    std::string error;
    if (!font.Parse(std::string(reinterpret_cast<const char*>(data), size), error)) {
        Require(font.Size() == 0 && !error.empty(), "a failed read kept glyphs or gave no reason");
        return 0;
    }
    Require(font.Height() > 0 && font.Height() <= kMaxGlyphDots, "font height out of range");
    std::u32string text;
    for (char32_t c = 0x20; c < 0x80; ++c) text += c;
    text += U"\u4E2D\u6587\uFFFD";
    for (const char32_t c : text) {
        const Glyph* glyph = font.Find(c);
        if (glyph == nullptr) continue;
        Require(glyph->width >= 0 && glyph->width <= kMaxGlyphDots, "glyph width out of range");
        Require(glyph->height == font.Height(), "glyph height differs from the font's");
    }
    // Two rows of the font's height, so that the font draws them dot for dot.
    const ledsign::SignGeometry geometry{96, font.Height() * 2, 2};
    SignFonts fonts;
    fonts.native.push_back(&font);
    const DotBitmap bitmap = RenderSign(geometry, {text, text}, fonts, {16, 8});
    Require(bitmap.Width() == 96 && bitmap.Height() == geometry.height, "the picture is not the sign's size");
    return 0;
}

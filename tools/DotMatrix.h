// What a sign shows: its rows drawn as a dot-matrix picture at the sign's geometry. Glyphs come
// from GNU Unifont's 16-dot .hex font (one "CODEPOINT:BITS" line per glyph, 32 hex digits for an
// 8-dot-wide glyph, 64 for a 16-dot-wide one), scaled to any row height, and from bitmap fonts
// read through FreeType (PCF, gzipped PCF, BDF, bitmap strikes; such as Debian's WenQuanYi 12-dot
// song) drawn dot for dot on rows of their own height.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/SignDecoder.h"

namespace ledsign::tools {

// The largest glyph held, in dots each way.
constexpr int kMaxGlyphDots = 32;

// One character's cell in its font: as high as the font, as wide as the glyph's advance, the ink
// placed on the font's baseline.
struct Glyph {
    int width;                     // dots across, up to kMaxGlyphDots
    int height;                    // dots down: the font's height
    uint32_t rows[kMaxGlyphDots];  // top to bottom; bit 31 is the leftmost dot
    bool Dot(int x, int y) const {
        return x >= 0 && x < width && y >= 0 && y < height && ((rows[y] >> (31 - x)) & 1) != 0;
    }
};

class BitmapFont {
public:
    virtual ~BitmapFont() = default;
    virtual const Glyph* Find(char32_t codePoint) const;
    size_t Size() const { return glyphs_.size(); }
    // Dots from the top of a cell to the bottom.
    int Height() const { return height_; }

protected:
    explicit BitmapFont(int height) : height_(height) {}
    mutable std::unordered_map<char32_t, Glyph> glyphs_;  // read ahead or as first drawn
    int height_;
};

class HexFont : public BitmapFont {
public:
    HexFont() : BitmapFont(16) {}
    // Reads an uncompressed .hex file; lines that are not glyphs are skipped.
    bool Load(const std::string& path, std::string& error);
    // Parses .hex lines held in memory.
    void Parse(const std::string& text);

private:
    bool ParseLine(const char* line, size_t length);
};

// A bitmap font read through FreeType: PCF (gzipped too), BDF, or a font file's bitmap strike,
// up to kMaxGlyphDots high. Its height is the strike's pixel size; glyphs are read as they are
// first drawn.
class FreeTypeFont : public BitmapFont {
public:
    FreeTypeFont();
    ~FreeTypeFont() override;
    FreeTypeFont(const FreeTypeFont&) = delete;
    FreeTypeFont& operator=(const FreeTypeFont&) = delete;

    // Takes the strike `preferredHeight` dots high where the font has one, else its first. On
    // failure the font is left empty and `error` says why.
    bool Load(const std::string& path, std::string& error, int preferredHeight = 0);
    const Glyph* Find(char32_t codePoint) const override;
    // Dot rows of the cell above the baseline.
    int Baseline() const { return baseline_; }

private:
    struct Handles;
    Handles* handles_;
    int baseline_ = 0;
    mutable std::unordered_map<char32_t, bool> looked_;  // characters looked up: found or not
};

// Where Unifont is looked for: $LEDSIGN_UNIFONT, else Debian's unifont package's file.
std::string DefaultFontPath();

// Where bitmap fonts drawn dot for dot are looked for: the paths in $LEDSIGN_ROW_FONTS (separated
// by ':'), else the 12-dot WenQuanYi song of Debian's xfonts-wqy package.
std::vector<std::string> DefaultRowFontPaths();
constexpr char kWenQuanYi12Path[] = "/usr/share/fonts/X11/misc/wenquanyi_9pt.pcf";

class DotBitmap {
public:
    DotBitmap(int width, int height) : width_(width), height_(height), dots_(static_cast<size_t>(width * height)) {}
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool At(int x, int y) const { return dots_[static_cast<size_t>(y * width_ + x)] != 0; }
    // Dots outside the sign are dropped, as the sign's edge cuts them off.
    void Set(int x, int y) {
        if (x >= 0 && x < width_ && y >= 0 && y < height_) dots_[static_cast<size_t>(y * width_ + x)] = 1;
    }

private:
    int width_, height_;
    std::vector<uint8_t> dots_;
};

// How many characters a row of the sign holds: single-byte (half-width glyphs) and double-byte
// (full-width glyphs), as GetLEDAtt reports them. 0 leaves glyphs at their own proportions.
struct RowCapacity {
    int singles;
    int wides;
};

// The fonts a picture is drawn with: Unifont, scaled to any row height, and fonts drawn dot for
// dot on rows of their own height. A character a row's own font lacks is drawn from Unifont.
struct SignFonts {
    const BitmapFont* scaled = nullptr;
    std::vector<const BitmapFont*> native;
};

// Draws each row's text from the left, in the font made for the row's height (the sign's height
// shared by its rows) where there is one, else in Unifont scaled to it. With a capacity, each
// character takes one cell of the sign's width divided by the characters a row holds (ASCII a
// single-byte cell, a full-width glyph a double-byte one), so that a row holds exactly the
// characters the sign shows; text wider than the sign is cut at the edge. A character no font
// has is drawn as an open box.
DotBitmap RenderSign(const SignGeometry& geometry, const std::vector<std::u32string>& rows, const SignFonts& fonts,
                     RowCapacity capacity = {0, 0});
// Unifont alone.
DotBitmap RenderSign(const SignGeometry& geometry, const std::vector<std::u32string>& rows, const BitmapFont& font,
                     RowCapacity capacity = {0, 0});

// The picture for a terminal: two dot rows per text line with half-block characters, in a frame.
// With `columns` above 0, a picture wider than that many terminal columns is cut at its right
// edge, and a line under it says so.
std::string DrawForTerminal(const DotBitmap& bitmap, int columns = 0);

// The picture as RGB pixels: each dot a lit or dark LED of `dotPixels` square with a gap.
std::vector<uint8_t> PaintLeds(const DotBitmap& bitmap, int dotPixels, uint32_t& width, uint32_t& height);

}  // namespace ledsign::tools

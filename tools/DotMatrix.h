// What a sign shows: its rows drawn as a dot-matrix picture at the sign's geometry, from a
// 16-dot bitmap font in the .hex format of GNU Unifont (one "CODEPOINT:BITS" line per glyph,
// 32 hex digits for an 8-dot-wide glyph, 64 for a 16-dot-wide one).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/SignDecoder.h"

namespace ledsign::tools {

struct Glyph {
    int width;          // 8 or 16 dots
    uint16_t rows[16];  // top to bottom; bit 15 is the leftmost dot
};

class HexFont {
public:
    // Reads an uncompressed .hex file; lines that are not glyphs are skipped.
    bool Load(const std::string& path, std::string& error);
    // Parses .hex lines held in memory.
    void Parse(const std::string& text);
    const Glyph* Find(char32_t codePoint) const;
    size_t Size() const { return glyphs_.size(); }

private:
    bool ParseLine(const char* line, size_t length);
    std::unordered_map<char32_t, Glyph> glyphs_;
};

// Where the font is looked for: $LEDSIGN_UNIFONT, else Debian's unifont package's file.
std::string DefaultFontPath();

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

// Decodes UTF-8; a byte that does not start a valid sequence becomes U+FFFD.
std::u32string DecodeUtf8(const std::string& text);

// How many characters a row of the sign holds: single-byte (half-width glyphs) and double-byte
// (full-width glyphs), as GetLEDAtt reports them. 0 leaves glyphs at their own proportions.
struct RowCapacity {
    int singles;
    int wides;
};

// Draws each row's text from the left, its glyphs scaled to the row's height (the sign's height
// shared by its rows) and, with a capacity, to the width of one character cell of the sign, so
// that a row holds exactly the characters the sign shows; text wider than the sign is cut at the
// edge. A character the font lacks is drawn as an open box.
DotBitmap RenderSign(const SignGeometry& geometry, const std::vector<std::u32string>& rows, const HexFont& font,
                     RowCapacity capacity = {0, 0});

// The picture for a terminal: two dot rows per text line with half-block characters, in a frame.
// With `columns` above 0, a picture wider than that many terminal columns is cut at its right
// edge, and a line under it says so.
std::string DrawForTerminal(const DotBitmap& bitmap, int columns = 0);

// The picture as RGB pixels: each dot a lit or dark LED of `dotPixels` square with a gap.
std::vector<uint8_t> PaintLeds(const DotBitmap& bitmap, int dotPixels, uint32_t& width, uint32_t& height);

}  // namespace ledsign::tools

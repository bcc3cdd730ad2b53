#include "tools/DotMatrix.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ledsign::tools {

namespace {

constexpr int kHexFontHeight = 16;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// An 8-dot-wide open box for characters no font has, drawn at Unifont's scale.
Glyph MissingGlyph() {
    Glyph glyph{8, kHexFontHeight, {}};
    for (int y = 0; y < kHexFontHeight; ++y) {
        glyph.rows[y] = (y == 0 || y == kHexFontHeight - 1) ? 0xFF000000 : 0x81000000;
    }
    return glyph;
}

// Source rows (or columns) [first, last) that a target dot covers when `size` target dots span
// `source` font dots. Shrinking lights a dot when any dot it covers is lit, so thin strokes survive.
void SourceSpan(int target, int size, int& first, int& last, int source) {
    first = target * source / size;
    last = size < source ? (target + 1) * source / size : first + 1;
    if (last <= first) last = first + 1;
}

// The width a glyph takes on the sign: its cell when the row's capacity is known, else its own
// width at the row's scale. ASCII is one byte to the sign whatever its glyph's width (a
// proportional font's "W" is wider than half its height); another character takes a double-byte
// cell when its glyph is full width.
int CellWidth(char32_t codePoint, const Glyph& glyph, const SignGeometry& geometry, RowCapacity capacity,
              int rowHeight) {
    const bool wide = codePoint >= 0x80 && glyph.width * 4 > glyph.height * 3;
    const int count = wide ? capacity.wides : capacity.singles;
    if (count > 0) return geometry.width / count;
    return glyph.width * rowHeight / glyph.height;
}

// Draws a glyph scaled to a cell of `width` by the row's height.
void DrawScaled(DotBitmap& bitmap, const Glyph& glyph, int left, int top, int width, int rowHeight) {
    for (int y = 0; y < rowHeight; ++y) {
        int firstRow, lastRow;
        SourceSpan(y, rowHeight, firstRow, lastRow, glyph.height);
        for (int x = 0; x < width; ++x) {
            int firstColumn, lastColumn;
            SourceSpan(x, width, firstColumn, lastColumn, glyph.width);
            bool lit = false;
            for (int sy = firstRow; sy < lastRow && !lit; ++sy) {
                for (int sx = firstColumn; sx < lastColumn && !lit; ++sx) lit = glyph.Dot(sx, sy);
            }
            if (lit) bitmap.Set(left + x, top + y);
        }
    }
}

// Draws a glyph of the row's own height dot for dot. One narrower than its cell is centred in it,
// as a fixed-pitch sign font centres "i" rather than leaving a gap after it; one wider is shrunk
// across to fit, keeping every stroke rather than cutting a letter into another.
void DrawNative(DotBitmap& bitmap, const Glyph& glyph, int left, int top, int width) {
    const int offset = glyph.width < width ? (width - glyph.width) / 2 : 0;
    const int drawn = glyph.width < width ? glyph.width : width;
    for (int y = 0; y < glyph.height; ++y) {
        for (int x = 0; x < drawn; ++x) {
            int firstColumn = x, lastColumn = x + 1;
            if (glyph.width > width) SourceSpan(x, width, firstColumn, lastColumn, glyph.width);
            bool lit = false;
            for (int sx = firstColumn; sx < lastColumn && !lit; ++sx) lit = glyph.Dot(sx, y);
            if (lit) bitmap.Set(left + offset + x, top + y);
        }
    }
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read the font " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = "cannot read the font " + path;
        return false;
    }
    bytes = text.str();
    return true;
}

}  // namespace

bool HexFont::Load(const std::string& path, std::string& error) {
    std::string text;
    if (!ReadWholeFile(path, text, error)) return false;
    const size_t before = glyphs_.size();
    Parse(text);
    if (glyphs_.size() == before) {
        error = path + " holds no glyphs in the .hex format (a compressed file must be unpacked first)";
        return false;
    }
    return true;
}

void HexFont::Parse(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t length = end - start;
        if (length > 0 && text[start + length - 1] == '\r') --length;
        ParseLine(text.data() + start, length);
        start = end + 1;
    }
}

bool HexFont::ParseLine(const char* line, size_t length) {
    size_t colon = 0;
    char32_t codePoint = 0;
    for (; colon < length && line[colon] != ':'; ++colon) {
        const int digit = HexDigit(line[colon]);
        if (digit < 0 || colon >= 6) return false;
        codePoint = codePoint * 16 + static_cast<char32_t>(digit);
    }
    const size_t digits = length - colon - 1;
    if (colon == 0 || colon == length || (digits != 32 && digits != 64)) return false;
    Glyph glyph{digits == 32 ? 8 : 16, kHexFontHeight, {}};
    const size_t perRow = digits / kHexFontHeight;
    for (int y = 0; y < kHexFontHeight; ++y) {
        uint32_t bits = 0;
        for (size_t k = 0; k < perRow; ++k) {
            const int digit = HexDigit(line[colon + 1 + y * perRow + k]);
            if (digit < 0) return false;
            bits = bits * 16 + static_cast<uint32_t>(digit);
        }
        glyph.rows[y] = bits << (32 - 4 * perRow);
    }
    glyphs_[codePoint] = glyph;
    return true;
}

const Glyph* BitmapFont::Find(char32_t codePoint) const {
    const auto found = glyphs_.find(codePoint);
    return found == glyphs_.end() ? nullptr : &found->second;
}

std::string DefaultFontPath() {
    const char* configured = std::getenv("LEDSIGN_UNIFONT");
    return configured != nullptr && *configured != '\0' ? configured : "/usr/share/unifont/unifont.hex";
}

std::vector<std::string> DefaultRowFontPaths() {
    const char* configured = std::getenv("LEDSIGN_ROW_FONTS");
    if (configured == nullptr || *configured == '\0') return {kWenQuanYi12Path};
    std::vector<std::string> paths;
    std::string path;
    for (const char* c = configured;; ++c) {
        if (*c == ':' || *c == '\0') {
            if (!path.empty()) paths.push_back(path);
            path.clear();
            if (*c == '\0') break;
        } else {
            path += *c;
        }
    }
    return paths;
}

DotBitmap RenderSign(const SignGeometry& geometry, const std::vector<std::u32string>& rows, const SignFonts& fonts,
                     RowCapacity capacity) {
    DotBitmap bitmap(geometry.width, geometry.height);
    const int rowHeight = geometry.height / geometry.rows;
    const BitmapFont* own = nullptr;
    for (const BitmapFont* font : fonts.native) {
        if (font != nullptr && font->Height() == rowHeight) {
            own = font;
            break;
        }
    }
    const Glyph missing = MissingGlyph();
    for (int row = 0; row < geometry.rows && row < static_cast<int>(rows.size()); ++row) {
        int pen = 0;
        for (const char32_t codePoint : rows[static_cast<size_t>(row)]) {
            if (pen >= geometry.width) break;
            const Glyph* glyph = own != nullptr ? own->Find(codePoint) : nullptr;
            const bool native = glyph != nullptr;
            if (glyph == nullptr && fonts.scaled != nullptr) glyph = fonts.scaled->Find(codePoint);
            if (glyph == nullptr) glyph = &missing;
            const int width = CellWidth(codePoint, *glyph, geometry, capacity, rowHeight);
            if (native) {
                DrawNative(bitmap, *glyph, pen, row * rowHeight, width);
            } else {
                DrawScaled(bitmap, *glyph, pen, row * rowHeight, width, rowHeight);
            }
            pen += width;
        }
    }
    return bitmap;
}

DotBitmap RenderSign(const SignGeometry& geometry, const std::vector<std::u32string>& rows, const BitmapFont& font,
                     RowCapacity capacity) {
    SignFonts fonts;
    fonts.scaled = &font;
    return RenderSign(geometry, rows, fonts, capacity);
}

std::string DrawForTerminal(const DotBitmap& bitmap, int columns) {
    // The frame takes two columns.
    const int shown = columns > 2 && bitmap.Width() + 2 > columns ? columns - 2 : bitmap.Width();
    std::string border;
    for (int x = 0; x < shown; ++x) border += "\u2500";
    std::string picture = "\u250C" + border + "\u2510\n";
    for (int y = 0; y < bitmap.Height(); y += 2) {
        picture += "\u2502";
        for (int x = 0; x < shown; ++x) {
            const bool top = bitmap.At(x, y);
            const bool bottom = y + 1 < bitmap.Height() && bitmap.At(x, y + 1);
            picture += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        picture += "\u2502\n";
    }
    picture += "\u2514" + border + "\u2518\n";
    if (shown < bitmap.Width()) {
        picture += "(cut to the terminal's " + std::to_string(columns) + " columns: " + std::to_string(shown) + " of " +
                   std::to_string(bitmap.Width()) + " dots shown)\n";
    }
    return picture;
}

std::vector<uint8_t> PaintLeds(const DotBitmap& bitmap, int dotPixels, uint32_t& width, uint32_t& height) {
    if (dotPixels < 1) dotPixels = 1;
    width = static_cast<uint32_t>(bitmap.Width() * dotPixels);
    height = static_cast<uint32_t>(bitmap.Height() * dotPixels);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3, 0);
    static const uint8_t kLit[3] = {255, 72, 24}, kDark[3] = {48, 16, 12};
    // With room for it, the last pixel row and column of each dot stay black between LEDs.
    const int led = dotPixels > 2 ? dotPixels - 1 : dotPixels;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            const uint8_t* colour = bitmap.At(x, y) ? kLit : kDark;
            for (int py = 0; py < led; ++py) {
                for (int px = 0; px < led; ++px) {
                    const size_t pixel = (static_cast<size_t>(y * dotPixels + py) * width + x * dotPixels + px) * 3;
                    rgb[pixel] = colour[0];
                    rgb[pixel + 1] = colour[1];
                    rgb[pixel + 2] = colour[2];
                }
            }
        }
    }
    return rgb;
}

}  // namespace ledsign::tools

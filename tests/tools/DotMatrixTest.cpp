// The dot-matrix renderer and the PNG encoder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "SignCases.h"
#include "tools/DotMatrix.h"
#include "tools/PngWriter.h"

namespace ledsign::test {
namespace {

using tools::DotBitmap;
using tools::HexFont;
using ledsign::SignGeometry;

// Unifont's "A" (8 dots wide), a full 16x16 block, and a 16-wide glyph with one thin line on
// font row 3, which plain nearest-dot shrinking to 12 dots would lose.
const char kFontText[] =
    "0041:0000000018242442427E424242420000\n"
    "2588:FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\n"
    "2500:000000000000FFFF000000000000000000000000000000000000000000000000\n"
    "not a glyph line\n"
    "0042:12\n";

HexFont TestFont() {
    HexFont font;
    font.Parse(kFontText);
    return font;
}

// The bitmap's dots in a rectangle, one string per dot row, '#' lit and '.' dark.
std::vector<std::string> Dots(const DotBitmap& bitmap, int left, int top, int width, int height) {
    std::vector<std::string> rows;
    for (int y = top; y < top + height; ++y) {
        std::string row;
        for (int x = left; x < left + width; ++x) row += bitmap.At(x, y) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

int LitCount(const DotBitmap& bitmap) {
    int lit = 0;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) lit += bitmap.At(x, y);
    }
    return lit;
}

TEST(HexFont, ReadsGlyphLinesAndSkipsOthers) {
    const HexFont font = TestFont();
    EXPECT_EQ(font.Size(), 3u);
    ASSERT_NE(font.Find(U'A'), nullptr);
    EXPECT_EQ(font.Find(U'A')->width, 8);
    EXPECT_EQ(font.Find(U'A')->rows[4], 0x1800);
    EXPECT_EQ(font.Find(0x2588)->width, 16);
    EXPECT_EQ(font.Find(U'B'), nullptr);
}

TEST(DotMatrix, AKnownGlyphRendersItsDotsInItsRow) {
    const HexFont font = TestFont();
    // 32 dots in two rows: 16 dots per row, so the glyph is drawn dot for dot; row 2 starts at dot row 16.
    const DotBitmap bitmap = tools::RenderSign({128, 32, 2}, {U"", U"A"}, font);
    const std::vector<std::string> expected = {
        "........", "........", "........", "........", "...##...", "..#..#..", "..#..#..", ".#....#.",
        ".#....#.", ".######.", ".#....#.", ".#....#.", ".#....#.", ".#....#.", "........", "........"};
    EXPECT_EQ(Dots(bitmap, 0, 16, 8, 16), expected);
    EXPECT_EQ(LitCount(bitmap), 24);
}

TEST(DotMatrix, GlyphsScaleToTheRowHeight) {
    const HexFont font = TestFont();
    struct Case {
        const char* name;
        SignGeometry geometry;
        int rowHeight;
    };
    const Case cases[] = {
        {"96x16, one row", {96, 16, 1}, 16},
        {"144x24, one row", {144, 24, 1}, 24},
        {"144x24, two rows", {144, 24, 2}, 12},
        {"128x32, two rows", {128, 32, 2}, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DotBitmap bitmap = tools::RenderSign(c.geometry, {U"\u2588\u2588"}, font);
        // Two full blocks make one lit square two glyphs wide in row 1, and nothing else.
        EXPECT_EQ(LitCount(bitmap), 2 * c.rowHeight * c.rowHeight);
        EXPECT_TRUE(bitmap.At(2 * c.rowHeight - 1, c.rowHeight - 1));
        EXPECT_FALSE(bitmap.At(2 * c.rowHeight, 0));
    }
    // Shrinking to 12 dots keeps a one-dot line.
    const DotBitmap shrunk = tools::RenderSign({144, 24, 2}, {U"\u2500"}, font);
    EXPECT_EQ(LitCount(shrunk), 12);
}

// A row holds exactly the characters the sign's capacities allow: as many full-width blocks as it
// takes double-byte characters fill the row, as many "A"s as it takes single-byte characters reach
// its last cell, and one more of either is cut off.
TEST(DotMatrix, RowsHoldExactlyTheSignsCapacity) {
    const HexFont font = TestFont();
    for (const SignCase& c : kSignCases) {
        SCOPED_TRACE(c.sign);
        const SignGeometry geometry{c.width, c.height, c.rows};
        const tools::RowCapacity capacity{c.rowChars, c.rowWideChars};
        const int rowHeight = c.height / c.rows;
        const auto render = [&](char32_t glyph, int count) {
            return tools::RenderSign(geometry, {std::u32string(static_cast<size_t>(count), glyph)}, font, capacity);
        };
        EXPECT_EQ(LitCount(render(U'\u2588', c.rowWideChars)), c.width * rowHeight);
        EXPECT_EQ(LitCount(render(U'\u2588', c.rowWideChars + 1)), c.width * rowHeight);
        const DotBitmap full = render(U'A', c.rowChars);
        const int cell = c.width / c.rowChars;
        int litInLastCell = 0;
        for (int y = 0; y < rowHeight; ++y) {
            for (int x = c.width - cell; x < c.width; ++x) litInLastCell += full.At(x, y);
        }
        EXPECT_GT(litInLastCell, 0);
        EXPECT_EQ(LitCount(render(U'A', c.rowChars + 1)), LitCount(full));
    }
}

TEST(DotMatrix, TextWiderThanTheSignIsCutAtItsEdge) {
    const HexFont font = TestFont();
    // A sign 96 dots wide: seven 16-dot blocks would need 112.
    const DotBitmap bitmap = tools::RenderSign({96, 16, 1}, {std::u32string(7, U'\u2588')}, font);
    EXPECT_EQ(bitmap.Width(), 96);
    EXPECT_EQ(LitCount(bitmap), 96 * 16);
}

TEST(DotMatrix, CharactersTheFontLacksShowAsABox) {
    const DotBitmap bitmap = tools::RenderSign({96, 16, 1}, {U"\u4E2D"}, HexFont());
    EXPECT_EQ(Dots(bitmap, 0, 0, 9, 3), (std::vector<std::string>{"########.", "#......#.", "#......#."}));
}

TEST(DotMatrix, TerminalPictureUsesHalfBlocksInAFrame) {
    DotBitmap bitmap(3, 2);
    bitmap.Set(0, 0);
    bitmap.Set(1, 1);
    bitmap.Set(2, 0);
    bitmap.Set(2, 1);
    bitmap.Set(5, 5);  // off the sign: dropped
    EXPECT_EQ(tools::DrawForTerminal(bitmap), "┌───┐\n│▀▄█│\n└───┘\n");
}

TEST(DotMatrix, DecodesUtf8AndMarksBrokenSequences) {
    EXPECT_EQ(tools::DecodeUtf8("A\xE4\xB8\xAD"), U"A\u4E2D");
    EXPECT_EQ(tools::DecodeUtf8("\xFF" "B"), U"\uFFFD" "B");
    EXPECT_EQ(tools::DecodeUtf8("\xE4\xB8"), U"\uFFFD\uFFFD");
    EXPECT_EQ(tools::DecodeUtf8("\xF0\x9F\x98\x80"), U"\U0001F600");
}

// The installed Unifont, as the virtual sign uses it.
TEST(DotMatrix, InstalledUnifontDrawsChinese) {
    HexFont font;
    std::string error;
    if (!font.Load(tools::DefaultFontPath(), error)) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << error;
        GTEST_SKIP() << error << " (install Debian's unifont package)";
    }
    const tools::Glyph* glyph = font.Find(U'\u4E2D');  // 中
    ASSERT_NE(glyph, nullptr);
    EXPECT_EQ(glyph->width, 16);
    EXPECT_EQ(glyph->rows[4], 0x3FF8);
    const DotBitmap bitmap = tools::RenderSign({128, 32, 2}, {U"\u4E2D"}, font);
    EXPECT_EQ(Dots(bitmap, 0, 4, 16, 1), std::vector<std::string>{"..###########..."});
}

uint32_t BigEndian(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t k = 0; k < 4; ++k) value = value << 8 | static_cast<uint8_t>(bytes[at + k]);
    return value;
}

TEST(Png, ChecksumsMatchTheirReferenceValues) {
    const std::string digits = "123456789";
    EXPECT_EQ(tools::Crc32(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xCBF43926u);
    const std::string word = "Wikipedia";
    EXPECT_EQ(tools::Adler32(reinterpret_cast<const uint8_t*>(word.data()), word.size()), 0x11E60398u);
}

// Parses the file as a PNG reader would: signature, chunks with their CRCs, IHDR, and the
// stored deflate blocks of IDAT back into scanlines.
TEST(Png, IsAValidImageOfTheRightSize) {
    const DotBitmap bitmap = tools::RenderSign({144, 24, 2}, {U"\u2588"}, TestFont());
    uint32_t width = 0, height = 0;
    const std::vector<uint8_t> rgb = tools::PaintLeds(bitmap, 5, width, height);
    ASSERT_EQ(width, 720u);
    ASSERT_EQ(height, 120u);  // 120 scanlines of 2161 bytes: more than one stored block
    const std::string png = tools::EncodePng(width, height, rgb);
    ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));

    std::vector<std::string> types;
    std::string idat;
    for (size_t at = 8; at < png.size();) {
        ASSERT_LE(at + 12, png.size());
        const uint32_t length = BigEndian(png, at);
        ASSERT_LE(at + 12 + length, png.size());
        const std::string type = png.substr(at + 4, 4);
        const std::string data = png.substr(at + 8, length);
        EXPECT_EQ(BigEndian(png, at + 8 + length),
                  tools::Crc32(reinterpret_cast<const uint8_t*>(png.data() + at + 4), length + 4)) << type;
        if (type == "IHDR") {
            ASSERT_EQ(length, 13u);
            EXPECT_EQ(BigEndian(data, 0), 720u);
            EXPECT_EQ(BigEndian(data, 4), 120u);
            EXPECT_EQ(data.substr(8), std::string("\x08\x02\x00\x00\x00", 5));
        }
        if (type == "IDAT") idat += data;
        types.push_back(type);
        at += 12 + length;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    ASSERT_GE(idat.size(), 6u);
    EXPECT_EQ((static_cast<uint8_t>(idat[0]) * 256 + static_cast<uint8_t>(idat[1])) % 31, 0);
    std::string raw;
    size_t at = 2;
    for (bool last = false; !last;) {
        ASSERT_LE(at + 5, idat.size());
        last = idat[at] & 1;
        EXPECT_EQ(idat[at] & 6, 0) << "stored block";
        const size_t length = static_cast<uint8_t>(idat[at + 1]) | static_cast<uint8_t>(idat[at + 2]) << 8;
        const size_t check = static_cast<uint8_t>(idat[at + 3]) | static_cast<uint8_t>(idat[at + 4]) << 8;
        EXPECT_EQ(length ^ 0xFFFF, check);
        raw += idat.substr(at + 5, length);
        at += 5 + length;
    }
    EXPECT_EQ(BigEndian(idat, at), tools::Adler32(reinterpret_cast<const uint8_t*>(raw.data()), raw.size()));
    ASSERT_EQ(raw.size(), 120u * (720 * 3 + 1));
    // First scanline: filter 0, then the lit LED of dot (0,0) in the sign's lit colour.
    EXPECT_EQ(raw[0], 0);
    EXPECT_EQ(static_cast<uint8_t>(raw[1]), rgb[0]);
    EXPECT_EQ(raw.substr(1, 720 * 3), std::string(rgb.begin(), rgb.begin() + 720 * 3));
}

TEST(Png, RefusesPixelsThatDoNotMatchTheSize) {
    EXPECT_TRUE(tools::EncodePng(2, 2, std::vector<uint8_t>(11)).empty());
    EXPECT_TRUE(tools::EncodePng(0, 0, {}).empty());
}

}  // namespace
}  // namespace ledsign::test

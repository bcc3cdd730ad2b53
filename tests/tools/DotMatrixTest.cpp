// The dot-matrix renderer and the PNG encoder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "SignCases.h"
#include "tools/DotMatrix.h"
#include "tools/PngWriter.h"

#include <png.h>

namespace ledsign::test {
namespace {

using ledsign::SignGeometry;
using tools::DotBitmap;
using tools::HexFont;
using tools::PcfFont;

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
    EXPECT_EQ(font.Find(U'A')->height, 16);
    EXPECT_EQ(font.Find(U'A')->rows[4], 0x18000000u);
    EXPECT_EQ(font.Find(0x2588)->width, 16);
    EXPECT_EQ(font.Find(U'B'), nullptr);
}

// Bytes written as hex pairs; spaces are for reading.
std::string Bytes(const char* hex) {
    std::string bytes;
    for (const char* c = hex; *c != '\0'; ++c) {
        if (*c == ' ') continue;
        bytes += static_cast<char>(std::stoi(std::string(c, 2), nullptr, 16));
        ++c;
    }
    return bytes;
}

std::string Lsb32(uint32_t value) {
    std::string bytes;
    for (int k = 0; k < 4; ++k) bytes += static_cast<char>(value >> (8 * k) & 0xFF);
    return bytes;
}

// A PCF file of these tables (type, bytes), laid out one after another behind the table of
// contents; each table starts with its format word.
std::string PcfFile(const std::vector<std::pair<uint32_t, std::string>>& tables) {
    std::string file = std::string("\1fcp", 4) + Lsb32(static_cast<uint32_t>(tables.size()));
    uint32_t offset = 8 + 16 * static_cast<uint32_t>(tables.size());
    for (const auto& [type, bytes] : tables) {
        file += Lsb32(type) + bytes.substr(0, 4) + Lsb32(static_cast<uint32_t>(bytes.size())) + Lsb32(offset);
        offset += static_cast<uint32_t>(bytes.size());
    }
    for (const auto& table : tables) file += table.second;
    return file;
}

// A 6-dot font (PIXEL_SIZE 6, ascent 4, descent 2) with two glyphs that sit on the baseline and
// hang below it: 'p' (3 dots of ink, advance 4) and 'q' (ink one dot in from the left, advance 5);
// 'r' is in the encodings but has no glyph.
//   p: ##.   q: .##
//      #.#      #.#
//      ##.      .##
//      #..      ..#
//      #..      ..#
const char kPcfProperties[] =  // most significant byte first
    "0C000000 00000001 00000000 00 00000006 000000 0000000B 504958454C5F53495A4500";
const char kPcfAccelerators[] = "00000000 0000000000000000 04000000 02000000";
const char kPcfCompressedMetrics[] = "0C010000 0002 8083848382 8184858382";
const char kPcfMetrics[] =  // least significant byte first
    "00000000 02000000 0000 0300 0400 0300 0200 0000 0100 0400 0500 0300 0200 0000";
const char kPcfMsbBitmaps[] =  // 1-byte rows
    "0C000000 00000002 00000000 00000005 0000000A 00000014 00000028 00000050 C0A0C08080 60A0602020";
const char kPcfEncodings[] = "00000000 7000 7200 0000 0000 0000 0000 0100 FFFF";

std::string TestPcf(const char* metrics = kPcfCompressedMetrics, const char* bitmaps = kPcfMsbBitmaps,
                    const char* encodings = kPcfEncodings, const char* properties = kPcfProperties) {
    return PcfFile({{1, Bytes(properties)},
                    {2, Bytes(kPcfAccelerators)},
                    {4, Bytes(metrics)},
                    {8, Bytes(bitmaps)},
                    {0x20, Bytes(encodings)}});
}

// A glyph's cell, one string per dot row, '#' lit and '.' dark.
std::vector<std::string> GlyphDots(const tools::Glyph& glyph) {
    std::vector<std::string> rows;
    for (int y = 0; y < glyph.height; ++y) {
        std::string row;
        for (int x = 0; x < glyph.width; ++x) row += glyph.Dot(x, y) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

TEST(PcfFont, ReadsGlyphsOnTheBaselineInEachBitAndByteOrder) {
    struct Case {
        const char* name;
        const char* metrics;
        const char* bitmaps;
    };
    const Case cases[] = {
        {"MSB bits and bytes, compressed metrics", kPcfCompressedMetrics, kPcfMsbBitmaps},
        {"MSB bits in LSB-first 16-bit units, rows padded to 2 bytes", kPcfCompressedMetrics,
         "19000000 02000000 00000000 0A000000 0A000000 14000000 28000000 50000000 "
         "00C0 00A0 00C0 0080 0080 0060 00A0 0060 0020 0020"},
        {"LSB bits and bytes, uncompressed metrics", kPcfMetrics,
         "00000000 02000000 00000000 05000000 0A000000 14000000 28000000 50000000 0305030101 0605060404"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PcfFont font;
        std::string error;
        ASSERT_TRUE(font.Parse(TestPcf(c.metrics, c.bitmaps), error)) << error;
        EXPECT_EQ(font.Height(), 6);
        EXPECT_EQ(font.Baseline(), 4);
        EXPECT_EQ(font.Size(), 2u);
        ASSERT_NE(font.Find(U'p'), nullptr);
        ASSERT_NE(font.Find(U'q'), nullptr);
        EXPECT_EQ(GlyphDots(*font.Find(U'p')),
                  (std::vector<std::string>{"....", "##..", "#.#.", "##..", "#...", "#..."}));
        EXPECT_EQ(GlyphDots(*font.Find(U'q')),
                  (std::vector<std::string>{".....", "..##.", ".#.#.", "..##.", "...#.", "...#."}));
        for (const char32_t absent : {U'r', U'o', U'\u0170'}) EXPECT_EQ(font.Find(absent), nullptr);
    }
}

TEST(PcfFont, RejectsCutAndDamagedFiles) {
    const std::string whole = TestPcf();
    ASSERT_EQ(whole.size(), 221u);  // 88 bytes of contents, then tables of 35, 20, 16, 42 and 20
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {"empty", "", "is not a PCF font"},
        {"cut in the signature", whole.substr(0, 6), "is not a PCF font"},
        {"cut in the table of contents", whole.substr(0, 40), "its table of contents does not fit"},
        {"cut in the bitmaps", whole.substr(0, 180), "lies past the end of the file"},
        {"last byte missing", whole.substr(0, 220), "its encodings table ends too soon"},
        {"gzip-compressed", Bytes("1F8B0800000000000003"), "gunzip"},
        {"no encodings", PcfFile({{4, Bytes(kPcfCompressedMetrics)}, {8, Bytes(kPcfMsbBitmaps)}}), "no encodings"},
        {"glyph number past the glyphs",
         TestPcf(kPcfCompressedMetrics, kPcfMsbBitmaps, "00000000 7000 7200 0000 0000 0000 0000 0500 FFFF"),
         "glyph number 5"},
        {"bitmap past the bitmap data",
         TestPcf(kPcfCompressedMetrics,
                 "0C000000 00000002 00000000 00000007 0000000A 00000014 "
                 "00000028 00000050 C0A0C08080 60A0602020"),
         "lies past the bitmap data"},
        {"40 dots high",
         TestPcf(kPcfCompressedMetrics, kPcfMsbBitmaps, kPcfEncodings,
                 "0C000000 00000001 00000000 00 00000028 000000 0000000B 504958454C5F53495A4500"),
         "40 dots high"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PcfFont font;
        std::string error;
        EXPECT_FALSE(font.Parse(c.bytes, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(font.Size(), 0u);
    }
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

// Rows as high as a loaded font are drawn in it dot for dot, on its baseline, with Unifont standing
// in for the characters it lacks; rows of another height keep Unifont.
TEST(DotMatrix, RowsOfAFontsOwnHeightUseItUnscaled) {
    const HexFont unifont = TestFont();
    PcfFont sixDots;
    std::string error;
    ASSERT_TRUE(sixDots.Parse(TestPcf(), error)) << error;
    tools::SignFonts fonts;
    fonts.scaled = &unifont;
    fonts.native = {&sixDots};
    struct Case {
        const char* name;
        SignGeometry geometry;
        tools::RowCapacity capacity;
        std::u32string text;
        int top, height;  // of the dots compared
        std::vector<std::string> dots;
    };
    const Case cases[] = {
        {"6-dot rows, glyphs at their advance; a block from Unifont shrunk to 6 dots",
         {24, 12, 2},
         {0, 0},
         U"pq\u2588",
         0,
         6,
         {".........######", "##....##.######", "#.#..#.#.######", "##....##.######", "#......#.######",
          "#......#.######"}},
        {"6-dot rows in 6-dot cells: a narrower glyph centred",
         {24, 12, 2},
         {4, 2},
         U"pq",
         0,
         6,
         {"............", ".##.....##..", ".#.#...#.#..", ".##.....##..", ".#.......#..", ".#.......#.."}},
        {"16-dot row: Unifont's A",
         {24, 16, 1},
         {0, 0},
         U"A",
         3,
         4,
         {"...............", "...##..........", "..#..#.........", "..#..#........."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DotBitmap bitmap = tools::RenderSign(c.geometry, {c.text}, fonts, c.capacity);
        EXPECT_EQ(Dots(bitmap, 0, c.top, static_cast<int>(c.dots[0].size()), c.height), c.dots);
    }
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
    EXPECT_EQ(glyph->rows[4], 0x3FF80000u);
    const DotBitmap bitmap = tools::RenderSign({128, 32, 2}, {U"\u4E2D"}, font);
    EXPECT_EQ(Dots(bitmap, 0, 4, 16, 1), std::vector<std::string>{"..###########..."});
}

// Debian's 12-dot WenQuanYi song, as the virtual sign draws 12-dot rows with it.
TEST(DotMatrix, InstalledWenQuanYiDrawsChineseOnTwelveDotRows) {
    PcfFont font;
    std::string error;
    if (!font.Load("/usr/share/fonts/X11/misc/wenquanyi_9pt.pcf", error)) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << error;
        GTEST_SKIP() << error << " (install Debian's xfonts-wqy package)";
    }
    EXPECT_EQ(font.Height(), 12);
    EXPECT_EQ(font.Baseline(), 10);
    tools::SignFonts fonts;
    fonts.native = {&font};
    // Elvane: 144x24 dots in two rows, 12 double-byte characters a row.
    const DotBitmap bitmap = tools::RenderSign({144, 24, 2}, {U"\u4E2D"}, fonts, {24, 12});
    const std::vector<std::string> zhong = {".....#......", ".....#......", ".#########..", ".#...#...#..",
                                            ".#...#...#..", ".#...#...#..", ".#########..", ".#...#...#..",
                                            ".....#......", ".....#......", ".....#......", "............"};
    EXPECT_EQ(Dots(bitmap, 0, 0, 12, 12), zhong);
    EXPECT_EQ(LitCount(bitmap), 35);  // nothing outside its cell
}

// The file read back by libpng is the picture, pixel for pixel, and compressed: the LEDs repeat,
// so a picture of 259,200 bytes takes a few hundred in the file.
TEST(Png, DecodesToThePictureAndIsCompressed) {
    const DotBitmap bitmap = tools::RenderSign({144, 24, 2}, {U"\u2588"}, TestFont());
    uint32_t width = 0, height = 0;
    const std::vector<uint8_t> rgb = tools::PaintLeds(bitmap, 5, width, height);
    ASSERT_EQ(width, 720u);
    ASSERT_EQ(height, 120u);
    const std::string png = tools::EncodePng(width, height, rgb);
    EXPECT_LT(png.size(), 2000u);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0) << image.message;
    EXPECT_EQ(image.width, 720u);
    EXPECT_EQ(image.height, 120u);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> decoded(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr), 0) << image.message;
    EXPECT_TRUE(decoded == rgb);
    // Dot (0,0) is lit (red), dot (12,0) dark.
    EXPECT_GT(decoded[0], 200);
    EXPECT_LT(decoded[12 * 5 * 3], 100);
}

TEST(Png, RefusesPixelsThatDoNotMatchTheSize) {
    EXPECT_TRUE(tools::EncodePng(2, 2, std::vector<uint8_t>(11)).empty());
    EXPECT_TRUE(tools::EncodePng(0, 0, {}).empty());
}

}  // namespace
}  // namespace ledsign::test

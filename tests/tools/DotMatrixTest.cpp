// The dot-matrix renderer and the PNG encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "DotPictures.h"
#include "SignCases.h"
#include "SkipOrFail.h"
#include "tools/signview/DotMatrix.h"
#include "tools/signview/PngWriter.h"
#include "tools/common/TextCodec.h"

namespace ledsign::test {
namespace {

using ledsign::SignGeometry;
using tools::DotBitmap;
using tools::HexFont;
using tools::FreeTypeFont;

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
    return DotRows(width, height, [&](int x, int y) { return bitmap.At(left + x, top + y); });
}

int LitCount(const std::vector<std::string>& dots) {
    int lit = 0;
    for (const std::string& row : dots) lit += static_cast<int>(std::count(row.begin(), row.end(), '#'));
    return lit;
}
int LitCount(const DotBitmap& bitmap) { return LitCount(Dots(bitmap, 0, 0, bitmap.Width(), bitmap.Height())); }

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

// A file in the test's scratch folder holding `contents`; its path.
std::string ScratchFile(const std::string& name, const std::string& contents) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

// A 6-dot BDF font (PIXEL_SIZE 6, ascent 4, descent 2) with two glyphs that sit on the baseline
// and hang below it: 'p' (3 dots of ink, advance 4) and 'q' (ink one dot in from the left, advance 5).
//   p: ##.   q: .##
//      #.#      #.#
//      ##.      .##
//      #..      ..#
//      #..      ..#
std::string SixDotBdf(int pixelSize = 6) {
    const std::string size = std::to_string(pixelSize);
    return "STARTFONT 2.1\nFONT -test-six-medium-r-normal--" + size + "-60-75-75-c-40-iso10646-1\nSIZE " + size +
           " 75 75\nFONTBOUNDINGBOX 5 6 0 -2\nSTARTPROPERTIES 5\nPIXEL_SIZE " + size +
           "\nFONT_ASCENT 4\nFONT_DESCENT 2\nCHARSET_REGISTRY \"ISO10646\"\nCHARSET_ENCODING \"1\"\nENDPROPERTIES\n"
           "CHARS 2\n"
           "STARTCHAR p\nENCODING 112\nSWIDTH 666 0\nDWIDTH 4 0\nBBX 3 5 0 -2\nBITMAP\nC0\nA0\nC0\n80\n80\nENDCHAR\n"
           "STARTCHAR q\nENCODING 113\nSWIDTH 833 0\nDWIDTH 5 0\nBBX 3 5 1 -2\nBITMAP\n60\nA0\n60\n20\n20\nENDCHAR\n"
           "ENDFONT\n";
}

// A glyph's cell, one string per dot row, '#' lit and '.' dark.
std::vector<std::string> GlyphDots(const tools::Glyph& glyph) {
    return DotRows(glyph.width, glyph.height, [&](int x, int y) { return glyph.Dot(x, y); });
}

TEST(FreeTypeFont, ReadsGlyphsOnTheBaseline) {
    FreeTypeFont font;
    std::string error;
    ASSERT_TRUE(font.Load(ScratchFile("six.bdf", SixDotBdf()), error)) << error;
    EXPECT_EQ(font.Height(), 6);
    EXPECT_EQ(font.Baseline(), 4);
    ASSERT_NE(font.Find(U'p'), nullptr);
    ASSERT_NE(font.Find(U'q'), nullptr);
    EXPECT_EQ(GlyphDots(*font.Find(U'p')), (std::vector<std::string>{"....", "##..", "#.#.", "##..", "#...", "#..."}));
    EXPECT_EQ(GlyphDots(*font.Find(U'q')),
              (std::vector<std::string>{".....", "..##.", ".#.#.", "..##.", "...#.", "...#."}));
    for (const char32_t absent : {U'r', U'o', U'\u0170'}) EXPECT_EQ(font.Find(absent), nullptr);
}

TEST(FreeTypeFont, RefusesWhatItCannotDrawDotForDot) {
    struct Case {
        const char* name;
        std::string path;
        const char* message;
    };
    const Case cases[] = {
        {"missing", "/nonexistent/font.pcf", "cannot be read"},
        {"not a font", ScratchFile("garbage.pcf", "\x1F\x8B not a font at all"), "cannot be read"},
        {"40 dots high", ScratchFile("forty.bdf", SixDotBdf(40)), "40 dots high"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreeTypeFont font;
        std::string error;
        EXPECT_FALSE(font.Load(c.path, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(font.Find(U'p'), nullptr);
    }
}

TEST(DotMatrix, AKnownGlyphRendersItsDotsInItsRow) {
    const HexFont font = TestFont();
    // 32 dots in two rows: 16 dots per row, so the glyph is drawn dot for dot; row 2 starts at dot row 16.
    const DotBitmap bitmap = tools::RenderSign({128, 32, 2}, {U"", U"A"}, font);
    EXPECT_EQ(Dots(bitmap, 0, 16, 8, 16), kUnifontA);
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
    FreeTypeFont sixDots;
    std::string error;
    ASSERT_TRUE(sixDots.Load(ScratchFile("six.bdf", SixDotBdf()), error)) << error;
    tools::SignFonts fonts;
    fonts.scaled = &unifont;
    fonts.native = {&sixDots};
    struct Case {
        const char* name;
        SignGeometry geometry;
        tools::RowCapacity capacity;
        std::u32string text;
        int top;                        // the first dot row compared
        std::vector<std::string> dots;  // from there down, from the left edge
    };
    const Case cases[] = {
        {"6-dot rows, glyphs at their advance; a block from Unifont shrunk to 6 dots", {24, 12, 2}, {0, 0}, U"pq\u2588", 0,
         {".........######", "##....##.######", "#.#..#.#.######", "##....##.######", "#......#.######", "#......#.######"}},
        {"6-dot rows in 6-dot cells: a narrower glyph centred", {24, 12, 2}, {4, 2}, U"pq", 0,
         {"............", ".##.....##..", ".#.#...#.#..", ".##.....##..", ".#.......#..", ".#.......#.."}},
        {"16-dot row: Unifont's A", {24, 16, 1}, {0, 0}, U"A", 3,
         {"...............", "...##..........", "..#..#.........", "..#..#........."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DotBitmap bitmap = tools::RenderSign(c.geometry, {c.text}, fonts, c.capacity);
        EXPECT_EQ(Dots(bitmap, 0, c.top, static_cast<int>(c.dots[0].size()), static_cast<int>(c.dots.size())), c.dots);
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
        EXPECT_GT(LitCount(Dots(full, c.width - cell, 0, cell, rowHeight)), 0);  // the last cell
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

// The rows arrive in GBK and are drawn as code points; bytes that are not GBK show as U+FFFD.
TEST(TextCodec, GbkToCodePointsMarksBytesThatAreNotGbk) {
    EXPECT_EQ(tools::GbkToUtf32Lenient("\xD6\xD0" "A"), U"\u4E2D" "A");
    EXPECT_EQ(tools::GbkToUtf32Lenient("\xFF" "B"), U"\uFFFD" "B");
    EXPECT_EQ(tools::GbkToUtf32Lenient("A\xD6"), U"A\uFFFD");
    EXPECT_EQ(tools::GbkToUtf32Lenient(""), U"");
}

// The installed Unifont, as the virtual sign uses it.
TEST(DotMatrix, InstalledUnifontDrawsChinese) {
    HexFont font;
    std::string error;
    if (!font.Load(tools::DefaultFontPath(), error)) {
        LEDSIGN_SKIP_OR_FAIL(error << " (install Debian's unifont package)");
    }
    const tools::Glyph* glyph = font.Find(U'\u4E2D');  // 中
    ASSERT_NE(glyph, nullptr);
    EXPECT_EQ(glyph->width, 16);
    EXPECT_EQ(glyph->rows[4], 0x3FF80000u);
    const DotBitmap bitmap = tools::RenderSign({128, 32, 2}, {U"\u4E2D"}, font);
    EXPECT_EQ(Dots(bitmap, 0, 4, 16, 1), std::vector<std::string>{"..###########..."});
}

// Debian's bitmap fonts as the virtual sign draws rows with them: the 12-dot WenQuanYi song (an
// uncompressed PCF) on 12-dot rows, Unifont's gzipped PCF on 16-dot rows.
TEST(DotMatrix, InstalledBitmapFontsDrawChineseDotForDot) {
    struct Case {
        const char* path;
        const char* package;
        SignGeometry geometry;
        tools::RowCapacity capacity;
        int baseline;
        std::vector<std::string> zhong;  // the dots of 中 in its cell
        int lit;                         // and nothing outside it
    };
    const Case cases[] = {
        {"/usr/share/fonts/X11/misc/wenquanyi_9pt.pcf", "xfonts-wqy", {144, 24, 2}, {24, 12}, 10,
         {".....#......", ".....#......", ".#########..", ".#...#...#..", ".#...#...#..", ".#...#...#..",
          ".#########..", ".#...#...#..", ".....#......", ".....#......", ".....#......", "............"}, 35},
        {"/usr/share/fonts/X11/misc/unifont.pcf.gz", "unifont", {96, 16, 1}, {12, 6}, 14,
         {".......#........", ".......#........", ".......#........", ".......#........", "..###########...",
          "..#....#....#...", "..#....#....#...", "..#....#....#...", "..#....#....#...", "..#....#....#...",
          "..###########...", "..#....#....#...", ".......#........", ".......#........", ".......#........",
          ".......#........"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        FreeTypeFont font;
        std::string error;
        if (!font.Load(c.path, error)) {
            LEDSIGN_SKIP_OR_FAIL(error << " (install Debian's " << c.package << " package)");
        }
        EXPECT_EQ(font.Height(), c.geometry.height / c.geometry.rows);
        EXPECT_EQ(font.Baseline(), c.baseline);
        tools::SignFonts fonts;
        fonts.native = {&font};
        const DotBitmap bitmap = tools::RenderSign(c.geometry, {U"\u4E2D"}, fonts, c.capacity);
        const int cell = static_cast<int>(c.zhong[0].size());
        EXPECT_EQ(Dots(bitmap, 0, 0, cell, cell), c.zhong);
        if (c.lit > 0) EXPECT_EQ(LitCount(bitmap), c.lit);
    }
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
    const DecodedPng decoded = DecodePng(png, PNG_FORMAT_RGB);
    ASSERT_FALSE(decoded.pixels.empty()) << decoded.image.message;
    EXPECT_EQ(decoded.image.width, 720u);
    EXPECT_EQ(decoded.image.height, 120u);
    EXPECT_TRUE(decoded.pixels == rgb);
    // Dot (0,0) is lit (red), dot (12,0) dark.
    EXPECT_GT(decoded.pixels[0], 200);
    EXPECT_LT(decoded.pixels[12 * 5 * 3], 100);
}

TEST(Png, RefusesPixelsThatDoNotMatchTheSize) {
    EXPECT_TRUE(tools::EncodePng(2, 2, std::vector<uint8_t>(11)).empty());
    EXPECT_TRUE(tools::EncodePng(0, 0, {}).empty());
}

}  // namespace
}  // namespace ledsign::test

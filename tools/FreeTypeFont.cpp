#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>

#include "tools/DotMatrix.h"

namespace ledsign::tools {

struct FreeTypeFont::Handles {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
};

namespace {

// The strike to draw with: the one of the wanted height, else the first.
int ChooseStrike(const FT_Face face, int preferredHeight) {
    for (int index = 0; index < face->num_fixed_sizes; ++index) {
        if ((face->available_sizes[index].y_ppem + 32) / 64 == preferredHeight) return index;
    }
    return 0;
}

// Whether the dot `x` of a rendered glyph's row `y` is lit.
bool Lit(const FT_Bitmap& bitmap, unsigned x, unsigned y) {
    const unsigned char* row = bitmap.buffer + static_cast<long>(y) * bitmap.pitch;
    if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) return ((row[x / 8] >> (7 - x % 8)) & 1) != 0;
    return bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && row[x] >= 128;
}

}  // namespace

FreeTypeFont::FreeTypeFont() : BitmapFont(0), handles_(new Handles) {}

FreeTypeFont::~FreeTypeFont() {
    if (handles_->face != nullptr) FT_Done_Face(handles_->face);
    if (handles_->library != nullptr) FT_Done_FreeType(handles_->library);
    delete handles_;
}

bool FreeTypeFont::Load(const std::string& path, std::string& error, int preferredHeight) {
    const auto fail = [&](const std::string& why) {
        error = "the font " + path + " " + why;
        return false;
    };
    if (handles_->library == nullptr && FT_Init_FreeType(&handles_->library) != 0)
        return fail("cannot be read: FreeType");
    FT_Face face = nullptr;
    if (FT_New_Face(handles_->library, path.c_str(), 0, &face) != 0) {
        return fail("cannot be read (a bitmap font: PCF, .pcf.gz, BDF or a font with bitmap strikes)");
    }
    if (face->num_fixed_sizes == 0 || FT_Select_Size(face, ChooseStrike(face, preferredHeight)) != 0) {
        FT_Done_Face(face);
        return fail("has no bitmap strike: only bitmap fonts are drawn dot for dot");
    }
    const long height =
        (face->size->metrics.y_ppem > 0 ? face->size->metrics.y_ppem : (face->size->metrics.height + 32) / 64);
    if (height <= 0 || height > kMaxGlyphDots) {
        FT_Done_Face(face);
        return fail("is " + std::to_string(height) + " dots high; fonts up to " + std::to_string(kMaxGlyphDots) +
                    " dots high are drawn");
    }
    // Ascent and descent may span more than the pixel size, to leave room for accents: the
    // baseline then sits at the same fraction of the cell.
    const long ascent = face->size->metrics.ascender / 64, descent = -face->size->metrics.descender / 64;
    long baseline = ascent;
    if (ascent + descent > 0 && ascent + descent != height) {
        baseline = (2 * height * ascent + ascent + descent) / (2 * (ascent + descent));
    }
    if (handles_->face != nullptr) FT_Done_Face(handles_->face);
    handles_->face = face;
    height_ = static_cast<int>(height);
    baseline_ = static_cast<int>(baseline < 0 ? 0 : baseline > height ? height : baseline);
    glyphs_.clear();
    looked_.clear();
    return true;
}

const Glyph* FreeTypeFont::Find(char32_t codePoint) const {
    const auto looked = looked_.find(codePoint);
    if (looked != looked_.end()) return looked->second ? BitmapFont::Find(codePoint) : nullptr;
    FT_Face face = handles_->face;
    const FT_UInt index = face != nullptr ? FT_Get_Char_Index(face, codePoint) : 0;
    const bool found = index != 0 && FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0;
    looked_[codePoint] = found;
    if (!found) return nullptr;
    const FT_GlyphSlot slot = face->glyph;
    Glyph glyph{static_cast<int>(std::min<long>(slot->advance.x / 64, kMaxGlyphDots)), height_, {}};
    // Ink outside the glyph's cell is cut.
    const int top = baseline_ - slot->bitmap_top;
    for (unsigned y = 0; y < slot->bitmap.rows; ++y) {
        const int row = top + static_cast<int>(y);
        for (unsigned x = 0; x < slot->bitmap.width && row >= 0 && row < height_; ++x) {
            const int column = slot->bitmap_left + static_cast<int>(x);
            if (column >= 0 && column < glyph.width && Lit(slot->bitmap, x, y)) glyph.rows[row] |= 1u << (31 - column);
        }
    }
    return &(glyphs_[codePoint] = glyph);
}

}  // namespace ledsign::tools

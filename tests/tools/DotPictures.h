// The sign's picture as the tools' tests read it: dots as rows of '#' (lit) and '.' (dark), a PNG
// decoded by libpng, and Unifont's "A" written out.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ledsign::test {

// Unifont's "A" (0018242442427E4242424200 00) in its 8-dot cell, 16 dots high.
inline const std::vector<std::string> kUnifontA = {
    "........", "........", "........", "........", "...##...", "..#..#..", "..#..#..", ".#....#.",
    ".#....#.", ".######.", ".#....#.", ".#....#.", ".#....#.", ".#....#.", "........", "........"};

// The dots of a width x height rectangle, one string per dot row; lit(x, y) counts from its top left.
template <class Lit>
std::vector<std::string> DotRows(int width, int height, Lit lit) {
    std::vector<std::string> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) rows[static_cast<size_t>(y)] += lit(x, y) ? '#' : '.';
    }
    return rows;
}

// A PNG file as libpng decodes it into `format` pixels: none when it cannot, and image.message says why.
struct DecodedPng {
    png_image image{};
    std::vector<uint8_t> pixels;
};

inline DecodedPng DecodePng(const std::string& file, uint32_t format) {
    DecodedPng png;
    png.image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&png.image, file.data(), file.size()) == 0) return png;
    png.image.format = format;
    png.pixels.resize(PNG_IMAGE_SIZE(png.image));
    if (png_image_finish_read(&png.image, nullptr, png.pixels.data(), 0, nullptr) == 0) png.pixels.clear();
    return png;
}

}  // namespace ledsign::test

// A small PNG encoder: 8-bit RGB, no filtering, and the image data in stored (uncompressed)
// deflate blocks, so it needs no compression library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ledsign::tools {

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* bytes, size_t count, uint32_t adler = 1);

// `rgb` holds width * height pixels, three bytes each, row by row from the top.
// Returns the whole PNG file, or an empty string when the sizes do not match.
std::string EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

}  // namespace ledsign::tools

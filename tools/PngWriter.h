// The sign's picture as a PNG file, compressed by libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ledsign::tools {

// `rgb` holds width * height pixels, three bytes each, row by row from the top.
// Returns the whole PNG file, or an empty string when the sizes do not match.
std::string EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

// Writes the file beside `path` and renames it into place once every byte is written, so a viewer
// never reads half an image and a failed write leaves the previous picture. False, with the
// reason in `error`, when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

}  // namespace ledsign::tools

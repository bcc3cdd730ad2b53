#include "tools/PngWriter.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ledsign::tools {

std::string EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
    if (width == 0 || height == 0 || rgb.size() != static_cast<size_t>(width) * height * 3) return {};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr) == 0) return {};
    std::string png(size, '\0');
    if (png_image_write_to_memory(&image, png.data(), &size, 0, rgb.data(), 0, nullptr) == 0) return {};
    png.resize(size);
    return png;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    const std::string partial = path + ".part";
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + partial + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
    const int writeErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write " + partial + ": " + std::strerror(written ? errno : writeErrno);
        std::remove(partial.c_str());
        return false;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + partial + " to " + path + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace ledsign::tools

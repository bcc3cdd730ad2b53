#include "tools/PngWriter.h"

namespace ledsign::tools {

namespace {

void PutBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    PutBigEndian(out, static_cast<uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    PutBigEndian(out, Crc32(reinterpret_cast<const uint8_t*>(typed.data()), typed.size()));
}

}  // namespace

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc) {
    static const auto kTable = [] {
        std::vector<uint32_t> table(256);
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return table;
    }();
    crc = ~crc;
    for (size_t index = 0; index < count; ++index) crc = kTable[(crc ^ bytes[index]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(const uint8_t* bytes, size_t count, uint32_t adler) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    for (size_t index = 0; index < count; ++index) {
        a = (a + bytes[index]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::string EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
    if (width == 0 || height == 0 || rgb.size() != static_cast<size_t>(width) * height * 3) return {};

    // Each scanline: filter type 0 (none), then the row's pixels.
    std::string raw;
    const size_t stride = static_cast<size_t>(width) * 3;
    raw.reserve((stride + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw += '\0';
        raw.append(reinterpret_cast<const char*>(rgb.data()) + y * stride, stride);
    }

    // zlib stream: header (deflate, 32K window, no preset dictionary, check bits), stored blocks
    // of at most 65535 bytes, then the Adler-32 of the raw data.
    std::string zlib = "\x78\x01";
    size_t done = 0;
    do {
        const size_t block = raw.size() - done < 65535 ? raw.size() - done : 65535;
        const bool last = done + block == raw.size();
        zlib += static_cast<char>(last ? 1 : 0);
        zlib += static_cast<char>(block & 0xFF);
        zlib += static_cast<char>(block >> 8);
        zlib += static_cast<char>(~block & 0xFF);
        zlib += static_cast<char>((~block >> 8) & 0xFF);
        zlib.append(raw, done, block);
        done += block;
    } while (done < raw.size());
    PutBigEndian(zlib, Adler32(reinterpret_cast<const uint8_t*>(raw.data()), raw.size()));

    std::string header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header += '\x08';                // bit depth
    header += '\x02';                // colour type: RGB
    header += std::string(3, '\0');  // compression, filter, interlace

    std::string png = "\x89PNG\r\n\x1A\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", zlib);
    PutChunk(png, "IEND", {});
    return png;
}

}  // namespace ledsign::tools

#include "library/Utf8Text.h"

#include <cstring>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace ledsign {

namespace {

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

size_t DecodeUtf8(const uint8_t* text, uint32_t* codePoint) {
    const uint8_t lead = text[0];
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    size_t count = 0;
    uint32_t value = 0;
    uint32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        count = 2;
        value = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        count = 3;
        value = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        count = 4;
        value = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    // The NUL that ends the text is no continuation byte, so the walk never passes it.
    for (size_t index = 1; index < count; ++index) {
        if (!IsContinuation(text[index])) return 0;
        value = (value << 6) | (text[index] & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *codePoint = value;
    return count;
}

#if defined(_WIN32)
GbkEncoder::~GbkEncoder() = default;

bool GbkEncoder::Open() { return IsValidCodePage(936) != FALSE; }

size_t GbkEncoder::EncodeCharacter(uint32_t codePoint, const char*, size_t, char (&out)[4]) {
    // GBK has nothing beyond the Basic Multilingual Plane: one UTF-16 unit per character.
    if (codePoint > 0xFFFF) return 0;
    const wchar_t wide = static_cast<wchar_t>(codePoint);
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &wide, 1, out, sizeof out, nullptr, &usedDefault);
    return length > 0 && !usedDefault ? static_cast<size_t>(length) : 0;
}
#else
GbkEncoder::~GbkEncoder() {
    if (converter_ != reinterpret_cast<iconv_t>(-1)) iconv_close(converter_);
}

bool GbkEncoder::Open() {
    converter_ = iconv_open("GBK", "UTF-8");
    return converter_ != reinterpret_cast<iconv_t>(-1);
}

size_t GbkEncoder::EncodeCharacter(uint32_t, const char* utf8, size_t utf8Length, char (&out)[4]) {
    char* in = const_cast<char*>(utf8);
    size_t inLeft = utf8Length;
    char* to = out;
    size_t outLeft = sizeof out;
    if (iconv(converter_, &in, &inLeft, &to, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
        iconv(converter_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return 0;
    }
    return sizeof out - outLeft;
}
#endif

Utf8Conversion GbkEncoder::Convert(const char* text, char* gbk, size_t capacity) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    size_t in = 0;
    size_t out = 0;
    while (bytes[in] != 0) {
        uint32_t codePoint = 0;
        const size_t width = DecodeUtf8(bytes + in, &codePoint);
        if (width == 0) return Utf8Conversion{Utf8Outcome::kInvalidUtf8, in, 0, 0};
        char encoded[4];
        const size_t length = codePoint < 0x80 ? (encoded[0] = static_cast<char>(codePoint), 1)
                                               : EncodeCharacter(codePoint, text + in, width, encoded);
        if (length == 0) return Utf8Conversion{Utf8Outcome::kNotInGbk, in, codePoint, 0};
        if (out + length >= capacity) return Utf8Conversion{Utf8Outcome::kTooLong, in, 0, 0};
        std::memcpy(gbk + out, encoded, length);
        out += length;
        in += width;
    }
    gbk[out] = '\0';
    return Utf8Conversion{Utf8Outcome::kConverted, 0, 0, out};
}

}  // namespace ledsign

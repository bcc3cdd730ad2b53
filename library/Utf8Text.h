// UTF-8 text to the GBK bytes a sign shows, character by character, into a fixed buffer: strict
// UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF), and every character must have
// a GBK code. What went wrong, and where, is told in the result.
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace ledsign {

enum class Utf8Outcome : uint8_t {
    kConverted,
    kInvalidUtf8,  // at `offset`
    kNotInGbk,     // the character `codePoint` at `offset`
    kTooLong,      // the GBK text does not fit the buffer
};

struct Utf8Conversion {
    Utf8Outcome outcome;
    size_t offset;       // of the offending byte or character in the UTF-8 text
    uint32_t codePoint;  // for kNotInGbk
    size_t length;       // of the GBK text, for kConverted
};

// One character at a time to GBK. Each sign has its own, opened with the sign: the conversion
// then takes no memory and shares nothing with other signs.
class GbkEncoder {
public:
    GbkEncoder() = default;
    ~GbkEncoder();
    GbkEncoder(const GbkEncoder&) = delete;
    GbkEncoder& operator=(const GbkEncoder&) = delete;

    // False when the system has no GBK conversion.
    bool Open();
    // Converts `text` into `gbk` (room for `capacity` bytes, the NUL included).
    Utf8Conversion Convert(const char* text, char* gbk, size_t capacity);

private:
    // The GBK bytes of one character (1 or 2) into `out`; 0 when GBK has none.
    size_t EncodeCharacter(uint32_t codePoint, const char* utf8, size_t utf8Length, char (&out)[4]);

#if !defined(_WIN32)
    iconv_t converter_ = reinterpret_cast<iconv_t>(-1);
#endif
};

// The next character of strict UTF-8 at `text`: its code point and byte count, or 0 bytes when
// the bytes there are no valid UTF-8.
size_t DecodeUtf8(const uint8_t* text, uint32_t* codePoint);

}  // namespace ledsign

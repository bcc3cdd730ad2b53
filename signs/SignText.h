// Text handling shared by every sign encoder: rows of host bytes, cut only at GBK
// character boundaries so that a sign never receives half a Chinese character.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ledsign {

// A run of host bytes to send as one row; points into the host's text or a row buffer.
struct RowText {
    const uint8_t* bytes;
    uint32_t length;
};

inline bool IsGbkLeadByte(uint8_t byte) { return byte >= 0x81 && byte <= 0xFE; }

// The longest prefix of at most `limit` bytes that does not end inside a GBK character.
// A lead byte pairs with the byte after it; a lead byte that is the text's last byte stands alone.
inline uint32_t GbkFitLength(const uint8_t* bytes, size_t length, uint32_t limit) {
    if (length <= limit) return static_cast<uint32_t>(length);
    uint32_t fit = 0;
    while (fit < limit) {
        const uint32_t width = IsGbkLeadByte(bytes[fit]) ? 2 : 1;
        if (fit + width > limit) break;
        fit += width;
    }
    return fit;
}

// A row collected byte by byte, holding at most Capacity bytes. One byte past the capacity
// is kept while collecting, so that the final cut can see whether a GBK character straddles it.
template <uint32_t Capacity>
class RowBuffer {
public:
    void Append(uint8_t byte) {
        if (length_ <= Capacity) bytes_[length_++] = byte;
    }
    RowText Fitted() const { return RowText{bytes_, GbkFitLength(bytes_, length_, Capacity)}; }

private:
    uint8_t bytes_[Capacity + 1] = {};
    uint32_t length_ = 0;
};

// Cuts a row that lies in the host's text to `limit` bytes at a character boundary.
inline RowText FitRow(const uint8_t* bytes, size_t length, uint32_t limit) {
    return RowText{bytes, GbkFitLength(bytes, length, limit)};
}

}  // namespace ledsign

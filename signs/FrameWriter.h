// Writing frames through a line. A line is anything with
//   int32_t Write(const uint8_t* bytes, uint32_t count)   // 1 on success, -1 on failure
//   void Pause(uint32_t milliseconds)
// The driver's line is its serial port; tests use a recording line.
#pragma once

#include <cstdint>

namespace ledsign {

struct FramePiece {
    const uint8_t* bytes;
    uint32_t count;
};

// Writes the pieces in order, one write each, and stops at the first write whose result
// is not above 0, returning that result; 1 when every piece went out.
template <class Line>
int32_t WritePieces(Line& line, const FramePiece* pieces, uint32_t pieceCount) {
    for (uint32_t index = 0; index < pieceCount; ++index) {
        const int32_t result = line.Write(pieces[index].bytes, pieces[index].count);
        if (result <= 0) return result;
    }
    return 1;
}

template <class Line, uint32_t N>
int32_t WritePieces(Line& line, const FramePiece (&pieces)[N]) {
    return WritePieces(line, pieces, N);
}

}  // namespace ledsign

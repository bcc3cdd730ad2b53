// The ESC-line sign protocol (cresto, elvane): each row goes out as ESC 01 code text CR,
// in five writes, with a 1 ms pause after each complete frame.
#pragma once

#include <cstdint>
#include <cstring>

#include "signs/FrameWriter.h"
#include "signs/SignText.h"

namespace ledsign {

struct EscLineFormat {
    uint8_t rowCodes[2];  // row 1, row 2
};

inline constexpr uint32_t kEscRowCapacity = 200;
inline constexpr uint32_t kEscFramePauseMs = 1;
inline constexpr uint8_t kEsc = 0x1B;
inline constexpr uint8_t kEscFixed = 0x01;
inline constexpr uint8_t kCarriageReturn = 0x0D;

// Splits the text into two rows. Every '#' the walk examines is dropped and switches to
// row 2; the byte right after a '#' goes to row 2 unexamined, even if it is a '#' itself.
// A '#' as the text's last byte adds nothing.
inline void SplitEscRows(const char* text, RowBuffer<kEscRowCapacity> (&rows)[2]) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    const size_t length = std::strlen(text);
    size_t row = 0;
    for (size_t index = 0; index < length; ++index) {
        if (bytes[index] == '#') {
            row = 1;
            if (++index == length) break;
        }
        rows[row].Append(bytes[index]);
    }
}

template <class Line>
int32_t WriteEscFrame(Line& line, uint8_t rowCode, RowText row) {
    const FramePiece pieces[] = {
        {&kEsc, 1}, {&kEscFixed, 1}, {&rowCode, 1}, {row.bytes, row.length}, {&kCarriageReturn, 1}};
    return WritePieces(line, pieces);
}

// Frames each non-empty row; stops at the first failed write with its result, no pause after it.
template <class Line>
int32_t WriteEscLineText(Line& line, const EscLineFormat& format, const char* text) {
    RowBuffer<kEscRowCapacity> rows[2];
    SplitEscRows(text, rows);
    for (uint32_t row = 0; row < 2; ++row) {
        const RowText fitted = rows[row].Fitted();
        if (fitted.length == 0) continue;
        const int32_t result = WriteEscFrame(line, format.rowCodes[row], fitted);
        if (result <= 0) return result;
        line.Pause(kEscFramePauseMs);
    }
    return 1;
}

// Two empty-row frames, both always written; a failure of either is reported.
template <class Line>
int32_t WriteEscLineClear(Line& line, const EscLineFormat& format) {
    const uint8_t row1[4] = {kEsc, kEscFixed, format.rowCodes[0], kCarriageReturn};
    const uint8_t row2[4] = {kEsc, kEscFixed, format.rowCodes[1], kCarriageReturn};
    const int32_t first = line.Write(row1, sizeof row1);
    const int32_t second = line.Write(row2, sizeof row2);
    return first <= 0 ? first : second;
}

}  // namespace ledsign

// The header-framed sign protocol (brava, dorun): each row is an 8-byte header
// 05 01 03 row 00 model dots length, followed at once by the row's bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "signs/FrameWriter.h"
#include "signs/SignText.h"

namespace ledsign {

struct HeaderFrameFormat {
    uint8_t modelByte;  // header byte 5
    uint8_t dotsByte;   // header byte 6, the sign's dot height
};

// The first three bytes of every row header.
inline constexpr uint8_t kRowHeaderLead[3] = {0x05, 0x01, 0x03};

// "*01D" and a carriage return: blanks the sign. No header, no length byte.
inline constexpr uint8_t kHeaderFramedClear[5] = {0x2A, 0x30, 0x31, 0x44, 0x0D};

// A two-row sign keeps each row NUL-terminated in 200 bytes; the one-row length byte holds 255.
inline constexpr uint32_t kTwoRowTextLimit = 199;
inline constexpr uint32_t kOneRowTextLimit = 255;
inline constexpr uint32_t kTwoRowPauseMs = 100;
inline constexpr uint32_t kOneRowPauseMs = 200;

struct RowHeader {
    uint8_t bytes[8];
};

inline RowHeader MakeRowHeader(const HeaderFrameFormat& format, uint8_t rowNumber, uint32_t length) {
    return RowHeader{{kRowHeaderLead[0], kRowHeaderLead[1], kRowHeaderLead[2], rowNumber, 0x00, format.modelByte,
                      format.dotsByte, static_cast<uint8_t>(length)}};
}

// A two-row sign shows an empty row as one space; it is never left out.
inline RowText SpaceIfEmpty(RowText row) {
    static const uint8_t kSpace = 0x20;
    return row.length == 0 ? RowText{&kSpace, 1} : row;
}

// Sends a header and its row, stopping at the first failed write.
template <class Line>
int32_t WriteHeaderFrame(Line& line, const HeaderFrameFormat& format, uint8_t rowNumber, RowText row) {
    const RowHeader header = MakeRowHeader(format, rowNumber, row.length);
    const FramePiece pieces[] = {{header.bytes, sizeof header.bytes}, {row.bytes, row.length}};
    return WritePieces(line, pieces);
}

// Two rows split at the first '#'. Row 1's header and text both go out whatever their
// results, then the pause, then row 2, whose writes stop the call at the first failure.
// A failure anywhere is reported: the result is 1 only when every write succeeded.
template <class Line>
int32_t WriteTwoRowText(Line& line, const HeaderFrameFormat& format, const char* text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    const size_t length = std::strlen(text);
    const auto* hash = static_cast<const uint8_t*>(std::memchr(bytes, '#', length));
    const size_t row1Length = hash != nullptr ? static_cast<size_t>(hash - bytes) : length;
    const RowText row1 = SpaceIfEmpty(FitRow(bytes, row1Length, kTwoRowTextLimit));
    const RowText row2 =
        SpaceIfEmpty(hash != nullptr ? FitRow(hash + 1, length - row1Length - 1, kTwoRowTextLimit) : RowText{bytes, 0});

    const RowHeader header1 = MakeRowHeader(format, 1, row1.length);
    const int32_t header1Result = line.Write(header1.bytes, sizeof header1.bytes);
    const int32_t text1Result = line.Write(row1.bytes, row1.length);
    line.Pause(kTwoRowPauseMs);

    const int32_t row2Result = WriteHeaderFrame(line, format, 2, row2);
    if (row2Result <= 0) return row2Result;
    line.Pause(kTwoRowPauseMs);
    if (header1Result <= 0) return header1Result;
    if (text1Result <= 0) return text1Result;
    return 1;
}

// The whole text as one row; '#' is an ordinary byte. Texts over 255 bytes are cut at a
// character boundary so that the length byte always matches the bytes that follow.
template <class Line>
int32_t WriteOneRowText(Line& line, const HeaderFrameFormat& format, const char* text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    const int32_t result = WriteHeaderFrame(line, format, 1, FitRow(bytes, std::strlen(text), kOneRowTextLimit));
    if (result <= 0) return result;
    line.Pause(kOneRowPauseMs);
    return 1;
}

template <class Line>
int32_t WriteHeaderFramedClear(Line& line) {
    return line.Write(kHeaderFramedClear, sizeof kHeaderFramedClear);
}

}  // namespace ledsign

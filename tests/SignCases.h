// What each sign model must do, written out by hand: the one table of expectations that every
// per-model suite iterates. A new model's tests are one new row here. Nothing in it comes from
// the product's own constants, so a model description that goes wrong is caught.
#pragma once

#include <termios.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace ledsign::test {

// A pause before the byte at `atByte`: the least a blurring line shows, and what the protocol asks.
struct LinePause {
    size_t atByte;
    int minMs;
    int askedMs;
};

struct SignCase {
    const char* sign;         // the model: libSIGN.so, signemu --model SIGN
    const char* dll;          // the Windows file name, also the name in the trace lines
    const char* fileVersion;  // of the DLL's version resource
    // GetLEDAtt
    int32_t dots, rowChars, rowWideChars, twoRows;
    const char* commText;
    const char* vendor;  // GBK
    // InitLed(NULL) opens COM1 at this speed, 8 data bits, no parity, one stop bit.
    int32_t defaultBaud;
    bool fixedLine;  // opens at 2400,8,NONE,1 whatever the record says
    bool escLine;    // an empty text sends nothing (and succeeds)
    // What Write2Led("AB#D"), Write2Led of oneRowText ("ABC"-like, hex), Write2Led("中文#OK") in
    // GBK and ClearLed put on the line.
    const char* twoRowBytes;
    const char* oneRowText;
    const char* oneRowBytes;
    const char* chineseBytes;
    const char* clearBytes;
    const char* twoRowPauses;  // the pauses Write2Led("AB#D") makes, in milliseconds
    LinePause pauses[2];  // on the line of "AB#D" and the frame after it
    int minWriteMs;       // how long Write2Led holds the caller
    int closedPortPauseMs;  // Write2Led on a closed port fails after this pause (brava's row 1)
    // The longest Write2Led of "AB#D" on a line that takes no bytes: each stalled write waits out
    // its deadline (about 2 s), and brava's row 1 goes out whatever its result.
    int stalledCallMaxMs;
    // The virtual sign: its face in dots, and what it shows of "中文#OK" typed in UTF-8 then ClearLed
    // ("rowN=<text>|<GBK hex>", "clear").
    int32_t width, height, rows;
    std::vector<std::string> emulatorEvents;
};

inline const char kChengdu[] = "\xB3\xC9\xB6\xBC\xD6\xD0\xBF\xC6";  // 成都中科
inline const char kShanghai[] = "\xC9\xCF\xBA\xA3";                 // 上海
#define LEDSIGN_TEST_ZHONGWEN "\xE4\xB8\xAD\xE6\x96\x87"            // 中文 in UTF-8

// Each row names its fields in the order of SignCase.
inline const SignCase kSignCases[] = {
    {/* sign, dll, fileVersion */ "brava", "BRAVAX.DLL", "3.0.0.2",
     /* dots, rowChars, rowWideChars, twoRows */ 32, 16, 8, 1,
     /* commText, vendor, defaultBaud, fixedLine, escLine */ "2400,8,NONE,1", kChengdu, 2400, false, false,
     /* twoRowBytes */ "05 01 03 01 00 58 20 02 41 42 05 01 03 02 00 58 20 01 44",
     /* oneRowText, oneRowBytes */ "414243", "05 01 03 01 00 58 20 03 41 42 43 05 01 03 02 00 58 20 01 20",
     /* chineseBytes */ "05 01 03 01 00 58 20 04 D6 D0 CE C4 05 01 03 02 00 58 20 02 4F 4B",
     /* clearBytes, twoRowPauses */ "2A 30 31 44 0D", "100 100",
     /* pauses: {atByte, minMs, askedMs} */ {{10, 90, 100}, {19, 90, 100}},
     /* minWriteMs, closedPortPauseMs, stalledCallMaxMs, width, height, rows */ 200, 100, 7000, 128, 32, 2,
     /* emulatorEvents */ {"row1=" LEDSIGN_TEST_ZHONGWEN "|D6 D0 CE C4", "row2=OK|4F 4B", "clear"}},
    {/* sign, dll, fileVersion */ "dorun", "Dorun.DLL", "3.0.0.2",
     /* dots, rowChars, rowWideChars, twoRows */ 16, 12, 6, 0,
     /* commText, vendor, defaultBaud, fixedLine, escLine */ "2400,8,NONE,1", kChengdu, 2400, true, false,
     /* twoRowBytes */ "05 01 03 01 00 40 10 04 41 42 23 44",
     /* oneRowText, oneRowBytes */ "412342", "05 01 03 01 00 40 10 03 41 23 42",
     /* chineseBytes */ "05 01 03 01 00 40 10 07 D6 D0 CE C4 23 4F 4B",
     /* clearBytes, twoRowPauses */ "2A 30 31 44 0D", "200",
     /* pauses: {atByte, minMs, askedMs}; one row, one pause */ {{12, 190, 200}, {0, 0, 0}},
     /* minWriteMs, closedPortPauseMs, stalledCallMaxMs, width, height, rows */ 200, 0, 3000, 96, 16, 1,
     /* emulatorEvents */ {"row1=" LEDSIGN_TEST_ZHONGWEN "#OK|D6 D0 CE C4 23 4F 4B", "clear"}},
    // cresto and elvane report 4800,8,NONE,2 and open at 9600,8,NONE,1 when given no record: the
    // two differ as the signs are meant to.
    {/* sign, dll, fileVersion */ "cresto", "CRESTO.DLL", "3.0.0.1",
     /* dots, rowChars, rowWideChars, twoRows */ 24, 9, 6, 0,
     /* commText, vendor, defaultBaud, fixedLine, escLine */ "4800,8,NONE,2", kShanghai, 9600, false, true,
     /* twoRowBytes */ "1B 01 01 41 42 0D 1B 01 01 44 0D",
     /* oneRowText, oneRowBytes */ "414243", "1B 01 01 41 42 43 0D",
     /* chineseBytes */ "1B 01 01 D6 D0 CE C4 0D 1B 01 01 4F 4B 0D",
     /* clearBytes, twoRowPauses */ "1B 01 01 0D 1B 01 01 0D", "1 1",
     /* pauses: {atByte, minMs, askedMs} */ {{6, 0, 1}, {11, 0, 1}},
     /* minWriteMs, closedPortPauseMs, stalledCallMaxMs, width, height, rows */ 0, 0, 3000, 144, 24, 1,
     /* emulatorEvents */ {"row1=" LEDSIGN_TEST_ZHONGWEN "|D6 D0 CE C4", "row1=OK|4F 4B", "row1=|", "row1=|"}},
    {/* sign, dll, fileVersion */ "elvane", "ELVANE.DLL", "3.0.0.3",
     /* dots, rowChars, rowWideChars, twoRows */ 24, 24, 12, 1,
     /* commText, vendor, defaultBaud, fixedLine, escLine */ "4800,8,NONE,2", kShanghai, 9600, false, true,
     /* twoRowBytes */ "1B 01 04 41 42 0D 1B 01 05 44 0D",
     /* oneRowText, oneRowBytes */ "414243", "1B 01 04 41 42 43 0D",
     /* chineseBytes */ "1B 01 04 D6 D0 CE C4 0D 1B 01 05 4F 4B 0D",
     /* clearBytes, twoRowPauses */ "1B 01 04 0D 1B 01 05 0D", "1 1",
     /* pauses: {atByte, minMs, askedMs} */ {{6, 0, 1}, {11, 0, 1}},
     /* minWriteMs, closedPortPauseMs, stalledCallMaxMs, width, height, rows */ 0, 0, 3000, 144, 24, 2,
     /* emulatorEvents */ {"row1=" LEDSIGN_TEST_ZHONGWEN "|D6 D0 CE C4", "row2=OK|4F 4B", "row1=|", "row2=|"}},
};

#undef LEDSIGN_TEST_ZHONGWEN

// The row of a model, or null.
inline const SignCase* FindSignCase(const std::string& sign) {
    for (const SignCase& c : kSignCases) {
        if (sign == c.sign) return &c;
    }
    return nullptr;
}

// The termios speed constant of a baud rate the table uses.
inline speed_t SpeedOf(int32_t baud) {
    switch (baud) {
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        default: return B0;
    }
}

// Test names: the model's.
inline void PrintTo(const SignCase& c, std::ostream* out) { *out << c.sign; }
template <class ParamInfo>
std::string SignCaseName(const ParamInfo& info) {
    return info.param.sign;
}

}  // namespace ledsign::test

// The line settings as the serial module keeps them, and what follows from them alone: the parity
// words the line takes and how long a write may take. Apart from the port so that the tools read
// them without the platform's headers.
#pragma once

#include <cstdint>
#include <string_view>

namespace ledsign {

// Parity codes as the line takes them (the Win32 NOPARITY/ODDPARITY/EVENPARITY values).
enum ParityCode : uint8_t { kParityNone = 0, kParityOdd = 1, kParityEven = 2 };

// Looks a parity word up by exact, case-sensitive comparison: true, with its code, for the words
// the line takes; false for any other, which the line reads as none. Only the none-words are
// taken in mixed case: "Even" and "Odd" are not in the table.
inline bool LookUpParityWord(std::string_view word, uint8_t* code) {
    struct Entry {
        std::string_view word;
        uint8_t code;
    };
    static constexpr Entry kTable[] = {
        {"NONE", kParityNone}, {"none", kParityNone}, {"None", kParityNone}, {"EVEN", kParityEven},
        {"even", kParityEven}, {"ODD", kParityOdd},   {"odd", kParityOdd},
    };
    for (const Entry& entry : kTable) {
        if (entry.word == word) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

// The word a parity code is written as in line-settings text ("2400,8,NONE,1").
inline const char* ParityWordOf(uint8_t code) {
    return code == kParityOdd ? "ODD" : code == kParityEven ? "EVEN" : "NONE";
}

// Maps a parity word to its code; unknown words mean none.
inline uint8_t ParityFromWord(std::string_view word) {
    uint8_t code = kParityNone;
    LookUpParityWord(word, &code);
    return code;
}

struct LineSettings {
    int32_t baudRate;
    int32_t dataBits;  // only the low byte reaches the line
    int32_t stopBits;  // 2 means two stop bits, anything else one
    uint8_t parity;    // a ParityCode
};

// How long a write may take before it is abandoned: twice the time its bytes take on the line
// (12 bits a byte, for start, parity and stop bits with room to spare) plus 2 seconds. A healthy
// line never comes near it; a stalled one (flow control held, a wedged adapter, a far side that
// stopped reading) gives the caller -1 instead of a hang. Speeds below 50 baud count as 50.
constexpr uint32_t kWriteGraceMs = 2000;
uint32_t WriteDeadlineMs(uint32_t count, int32_t baudRate);

}  // namespace ledsign

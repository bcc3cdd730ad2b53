// Line settings written as text, "BAUD,DATA,PARITY,STOP" ("9600,8,NONE,1"), as a sign reports
// them in LEDAtt's commText and as a library host gives them.
#pragma once

#include <cstdint>

namespace ledsign {

struct SettingsText {
    int32_t baudRate;
    int32_t dataBits;
    int32_t stopBits;
    const char* parityWord;  // the word as the parity table spells it
};

// False for text that is not four comma-separated fields: a baud rate and data bits in decimal,
// a parity word the line takes ("NONE", "EVEN", "ODD" and their spellings), stop bits 1 or 2.
// Whether the line can run at the values is the line's to say when it is opened.
bool ParseSettingsText(const char* text, SettingsText* settings);

}  // namespace ledsign

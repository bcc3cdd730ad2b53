// Bytes as hexadecimal text ("05 01 41"), for the tools' output and the tests' messages.
#pragma once

#include <string>

namespace ledsign::tools {

// Each byte as two upper-case digits, the bytes joined by `separator`.
inline std::string HexBytes(const std::string& bytes, const char* separator = " ") {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const unsigned char byte : bytes) {
        if (!hex.empty()) hex += separator;
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

}  // namespace ledsign::tools

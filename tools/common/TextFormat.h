// Text as the tools print it: bytes in hexadecimal ("05 01 41"), for the tools' output and the
// tests' messages, and Windows error numbers in words.
#pragma once

#include <cstdio>
#include <string>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

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

// The bytes of hex text as the tools and tests take it: pairs of digits, spaces and commas between
// them ignored ("05 01 41", "050141"). False for any other character or an odd digit left over.
inline bool ParseHexBytes(const std::string& text, std::string& bytes) {
    std::string parsed;
    int digits = 0;
    unsigned value = 0;
    for (const char c : text) {
        if (c == ' ' || c == ',') continue;
        const bool decimal = c >= '0' && c <= '9';
        const char lower = static_cast<char>(c | 0x20);
        if (!decimal && (lower < 'a' || lower > 'f')) return false;
        value = value * 16 + static_cast<unsigned>(decimal ? c - '0' : lower - 'a' + 10);
        if (++digits % 2 == 0) {
            parsed += static_cast<char>(value);
            value = 0;
        }
    }
    if (digits % 2 != 0) return false;
    bytes += parsed;
    return true;
}

#if defined(_WIN32)
// A Windows error number in the system's words, with the number: "Access is denied. (error 5)".
inline std::string SystemErrorText(DWORD code) {
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) --length;
    return (length > 0 ? std::string(text, length) + " " : std::string()) + "(error " + std::to_string(code) + ")";
}
#endif

}  // namespace ledsign::tools

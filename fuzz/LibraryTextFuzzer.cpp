// The library's two parsers of host text: line-settings text ("9600,8,NONE,1") and UTF-8 to GBK.
// Invariants, not a restatement: settings that are taken print back as the same text; a
// conversion never writes past its buffer, its GBK is never longer than the UTF-8, ASCII passes
// unchanged, and what it refuses names a place inside the text.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/Require.h"
#include "library/SettingsText.h"
#include "library/Utf8Text.h"

namespace {

void CheckSettings(const std::string& text) {
    ledsign::SettingsText settings{};
    if (!ledsign::ParseSettingsText(text.c_str(), &settings)) return;
    Require(settings.baudRate > 0 && settings.dataBits >= 0, "numbers taken are positive");
    Require(settings.stopBits == 1 || settings.stopBits == 2, "stop bits 1 or 2");
    const std::string again = std::to_string(settings.baudRate) + "," + std::to_string(settings.dataBits) + "," +
                              settings.parityWord + "," + std::to_string(settings.stopBits);
    // Leading zeros and the parity word's other spellings are the only differences allowed.
    ledsign::SettingsText reparsed{};
    Require(ledsign::ParseSettingsText(again.c_str(), &reparsed), "settings taken print back as taken text");
    Require(reparsed.baudRate == settings.baudRate && reparsed.dataBits == settings.dataBits &&
                reparsed.stopBits == settings.stopBits && std::strcmp(reparsed.parityWord, settings.parityWord) == 0,
            "the printed settings read back the same");
}

void CheckUtf8(const std::string& text, ledsign::GbkEncoder& encoder) {
    char gbk[64 + 1];
    gbk[sizeof gbk - 1] = '\x5A';  // a guard byte the conversion may not touch
    const ledsign::Utf8Conversion result = encoder.Convert(text.c_str(), gbk, sizeof gbk - 1);
    Require(gbk[sizeof gbk - 1] == '\x5A', "the conversion stays inside its buffer");
    switch (result.outcome) {
        case ledsign::Utf8Outcome::kConverted: {
            Require(result.length <= text.size() && std::strlen(gbk) == result.length, "GBK no longer than UTF-8");
            bool ascii = true;
            for (const char byte : text) ascii &= static_cast<unsigned char>(byte) < 0x80;
            if (ascii) Require(text == gbk, "ASCII passes unchanged");
            break;
        }
        case ledsign::Utf8Outcome::kInvalidUtf8:
        case ledsign::Utf8Outcome::kNotInGbk:
        case ledsign::Utf8Outcome::kTooLong:
            Require(result.offset < text.size(), "a refusal names a place in the text");
    }
}

}  // namespace

// The first byte picks the parser; the rest, up to a NUL, is the host's text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(std::string(reinterpret_cast<const char*>(data + 1), size - 1).c_str());
    if (data[0] % 2 == 0) {
        CheckSettings(text);
    } else {
        static ledsign::GbkEncoder encoder;
        static const bool open = encoder.Open();
        if (open) CheckUtf8(text, encoder);
    }
    return 0;
}

#include "library/SettingsText.h"

#include <cstring>
#include <string_view>

#include "serial/LineSettings.h"

namespace ledsign {

namespace {

// The next comma-separated field of `rest`, which moves past it and its comma.
std::string_view NextField(std::string_view& rest, bool& more) {
    const size_t comma = rest.find(',');
    more = comma != std::string_view::npos;
    // Built by hand: substr could throw, and nothing here may.
    const std::string_view field(rest.data(), more ? comma : rest.size());
    rest = more ? std::string_view(rest.data() + comma + 1, rest.size() - comma - 1) : std::string_view();
    return field;
}

// A decimal number of 1 to 9 digits, nothing else: no sign, no spaces, no overflow.
bool DecimalField(std::string_view field, int32_t* value) {
    if (field.empty() || field.size() > 9) return false;
    int32_t number = 0;
    for (const char digit : field) {
        if (digit < '0' || digit > '9') return false;
        number = number * 10 + (digit - '0');
    }
    *value = number;
    return true;
}

}  // namespace

bool ParseSettingsText(const char* text, SettingsText* settings) {
    if (text == nullptr) return false;
    std::string_view rest(text);
    bool more = false;
    const std::string_view baud = NextField(rest, more);
    if (!more) return false;
    const std::string_view data = NextField(rest, more);
    if (!more) return false;
    const std::string_view parity = NextField(rest, more);
    if (!more) return false;
    const std::string_view stop = NextField(rest, more);
    if (more) return false;

    SettingsText parsed{};
    uint8_t parityCode = 0;
    if (!DecimalField(baud, &parsed.baudRate) || parsed.baudRate == 0 || !DecimalField(data, &parsed.dataBits) ||
        !LookUpParityWord(parity, &parityCode) || (stop != "1" && stop != "2")) {
        return false;
    }
    parsed.stopBits = stop[0] - '0';
    parsed.parityWord = ParityWordOf(parityCode);
    *settings = parsed;
    return true;
}

}  // namespace ledsign

#include "driver/LedPort.h"

#include <cstring>
#include <string_view>

#include "driver/Attributes.h"
#include "signs/SignIdentity.h"

namespace ledsign {

namespace {

// A record's text field, up to its NUL or the field's end; a field with no NUL comes back
// as long as the field, which Configure treats as too long (name) or unknown (parity).
std::string_view FieldText(const char* field, size_t fieldSize) {
    const void* nul = std::memchr(field, '\0', fieldSize);
    return std::string_view(field, nul != nullptr ? static_cast<const char*>(nul) - field : fieldSize);
}

}  // namespace

void LedPort::Init(const PortSettings* settings) {
    const SignIdentity& sign = kSignIdentity;
    const std::string_view portName =
        settings != nullptr ? FieldText(settings->portName, sizeof settings->portName) : "COM1";
    if (settings == nullptr || sign.fixedLineSettings) {
        Configure(portName, sign.defaultBaudRate, 8, 1, "NONE");
        return;
    }
    Configure(portName, settings->baudRate, settings->dataBits, settings->stopBits,
              FieldText(settings->parityWord, sizeof settings->parityWord));
}

int32_t LedPort::OpenLed() { return IsOpen() == 1 ? 1 : Open(); }

void LedPort::CloseLed() {
    if (IsOpen() == 1) Close();
}

int32_t LedPort::WriteText(const char* text) {
    if (text == nullptr) return -1;
    return SendToSign(*this, PluginTrace(), [text](PortLine& line) { return SignWriteText(line, text); });
}

int32_t LedPort::Clear() { return SendToSign(*this, PluginTrace(), &SignClear); }

void LedPort::SetShowMode(uint8_t) {}

int32_t LedPort::GetAttributes(LEDAtt* attributes) const {
    if (attributes == nullptr) return -1;
    FillAttributes(kSignIdentity, *attributes);
    return 1;
}

}  // namespace ledsign

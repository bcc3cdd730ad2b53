// The driver object of one model, linked in directly so its stored settings can be read back.
// Built once per model with LEDSIGN_SIGN naming it; the expectations come from its row of the
// sign-case table.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "SignCases.h"
#include "driver/LedPort.h"

namespace ledsign::test {
namespace {

PortSettings Record(const char* name, int32_t baud, int32_t dataBits, int32_t stopBits, const char* parity) {
    PortSettings record{};
    std::strncpy(record.portName, name, sizeof record.portName);
    record.baudRate = baud;
    record.dataBits = dataBits;
    record.stopBits = stopBits;
    std::strncpy(record.parityWord, parity, sizeof record.parityWord);
    return record;
}

const SignCase& ThisSign() {
    static const SignCase* const sign = FindSignCase(LEDSIGN_SIGN);
    if (sign == nullptr) throw std::runtime_error("no row for " LEDSIGN_SIGN " in the sign-case table");
    return *sign;
}

TEST(DriverInit, NullRecordUsesCom1AndTheDeliverableDefaults) {
    LedPort& port = TheLedPort();
    port.Init(nullptr);
    EXPECT_STREQ(port.PortName(), "COM1");
    EXPECT_EQ(port.Settings().baudRate, ThisSign().defaultBaud);
    EXPECT_EQ(port.Settings().dataBits, 8);
    EXPECT_EQ(port.Settings().stopBits, 1);
    EXPECT_EQ(port.Settings().parity, kParityNone);
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST(DriverInit, RecordSettingsUnlessTheSignFixesThem) {
    LedPort& port = TheLedPort();
    const PortSettings record = Record("pts/7", 9600, 7, 2, "EVEN");
    port.Init(&record);
    EXPECT_STREQ(port.PortName(), "pts/7");
    if (ThisSign().fixedLine) {
        EXPECT_EQ(port.Settings().baudRate, 2400);
        EXPECT_EQ(port.Settings().dataBits, 8);
        EXPECT_EQ(port.Settings().stopBits, 1);
        EXPECT_EQ(port.Settings().parity, kParityNone);
    } else {
        EXPECT_EQ(port.Settings().baudRate, 9600);
        EXPECT_EQ(port.Settings().dataBits, 7);
        EXPECT_EQ(port.Settings().stopBits, 2);
        EXPECT_EQ(port.Settings().parity, kParityEven);
    }
}

TEST(DriverInit, FieldsWithoutTerminatorAreNeverReadPast) {
    LedPort& port = TheLedPort();
    PortSettings record = Record("", 9600, 8, 1, "");
    std::memset(record.portName, 'A', sizeof record.portName);  // ten characters, no NUL
    std::memcpy(record.parityWord, "ODDODDODDODDODDODDOD", sizeof record.parityWord);
    port.Init(&record);
    EXPECT_TRUE(port.PortNameRefused());
    EXPECT_STREQ(port.PortName(), "");
    EXPECT_EQ(port.Settings().parity, kParityNone);
    EXPECT_EQ(port.OpenLed(), -1);

    // A name of exactly nine characters still fits.
    record = Record("123456789", 9600, 8, 1, "odd");
    port.Init(&record);
    EXPECT_FALSE(port.PortNameRefused());
    EXPECT_STREQ(port.PortName(), "123456789");
    EXPECT_EQ(port.Settings().parity, ThisSign().fixedLine ? kParityNone : kParityOdd);
}

}  // namespace
}  // namespace ledsign::test

// The driver object of one model, linked in directly so its stored settings can be read back.
// Built once per model with LEDSIGN_SIGN naming it; the expectations come from its row of the
// sign-case table.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "SettingsRecord.h"
#include "SignCases.h"
#include "driver/LedPort.h"

namespace ledsign::test {
namespace {

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
    const PortSettings record = MakePortSettings("pts/7", 9600, 7, 2, "EVEN");
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
    PortSettings record = MakePortSettings("", 9600, 8, 1, "");
    std::memset(record.portName, 'A', sizeof record.portName);  // ten characters, no NUL
    std::memcpy(record.parityWord, "ODDODDODDODDODDODDOD", sizeof record.parityWord);
    port.Init(&record);
    EXPECT_TRUE(port.PortNameRefused());
    EXPECT_STREQ(port.PortName(), "");
    EXPECT_EQ(port.Settings().parity, kParityNone);
    EXPECT_EQ(port.OpenLed(), -1);

    // A name of exactly nine characters still fits.
    record = MakePortSettings("123456789", 9600, 8, 1, "odd");
    port.Init(&record);
    EXPECT_FALSE(port.PortNameRefused());
    EXPECT_STREQ(port.PortName(), "123456789");
    EXPECT_EQ(port.Settings().parity, ThisSign().fixedLine ? kParityNone : kParityOdd);
}

}  // namespace
}  // namespace ledsign::test

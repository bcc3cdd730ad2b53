// ledctl's command line: the option table (which the help is made from), the command and its
// argument, and the exit codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ledsign::tools {

enum ExitCode {
    kSuccess = 0,
    kSignFailure = 1,
    kUsage = 2,
    kLoadFailure = 3,
    // OpenLed failed, and looking at the port told why.
    kNoDevice = 4,
    kPermission = 5,
    kInUse = 6,
    kNotSerial = 7,
    kSettingsRefused = 8,
};

struct Options {
    std::string plugin;
    std::string command;
    std::string argument;
    std::string port;
    int32_t baud = 0, dataBits = 0, stopBits = 0;
    std::string parity;
    bool hasPort = false, hasBaud = false, hasDataBits = false, hasStopBits = false, hasParity = false;
    bool lineOptions = false;
    bool raw = false;
    bool hex = false;
    bool trace = false;
    bool json = false;
    bool probe = false;
    long repeat = 1;
};

// Says what was wrong with the command line; returns kUsage.
int UsageError(const std::string& message);

// Parses the command line; returns -1 to go on, else the exit code to end with.
int ParseOptions(const std::vector<std::string>& args, Options& options);

}  // namespace ledsign::tools

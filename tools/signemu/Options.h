// What signemu was asked for on its command line, and what the line must run at for the sign.
#pragma once

#include <string>
#include <vector>

#include "signs/SignModel.h"

namespace ledsign::tools {

struct Options {
    const SignModel* model = nullptr;
    std::string link;
    std::string device;
    std::string png;
    std::string font;
    std::vector<std::string> rowFonts;
    int dotPixels = 4;
    long gapMs = 300;
    long idleExitMs = 0;
    bool json = false;
    bool picture = true;
    bool hex = false;
    long baud = 0, stopBits = 0, dataBits = 0;
    std::string parity;
};

// What the line must run at for this sign: the model's reported settings, or the options.
struct ListenAt {
    long baud;
    long stopBits;
};

ListenAt ExpectedLine(const Options& options);

}  // namespace ledsign::tools

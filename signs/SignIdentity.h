// What one deliverable reports about its sign and the defaults it uses.
#pragma once

#include <cstdint>

namespace ledsign {

struct SignIdentity {
    const char* moduleName;  // the name in the load and unload trace lines
    int32_t dots;
    int32_t rowChars;
    int32_t rowWideChars;
    int32_t twoRows;
    const char* commText;     // default line settings as reported to the host
    const char* vendor;       // GBK vendor label
    int32_t defaultBaudRate;  // used by InitLed without a record
    bool fixedLineSettings;   // true: only the port name of a record is used
};

}  // namespace ledsign

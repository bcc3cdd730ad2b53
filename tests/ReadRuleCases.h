// How the serial module's Read answers, one table for both backends: the read length set, the
// bytes waiting on the line, the length Read asks for and whether the read completes.
#pragma once

#include <cstdint>

namespace ledsign::test {

struct ReadRuleCase {
    const char* name;
    int32_t readLength;
    int waiting;
    int32_t asked;
    bool complete;
};

inline constexpr ReadRuleCase kReadRuleCases[] = {
    {"automatic with 7 waiting", 0, 7, 7, true},
    {"automatic with nothing waiting", 0, 0, 50, false},
    {"fixed 12 with 20 waiting", 12, 20, 12, true},
    {"fixed 12 with 7 waiting cannot complete", 12, 7, 12, false},
    {"-5 is automatic", -5, 7, 7, true},
    {"fixed 150 is bounded to the buffer", 150, 120, 100, true},
    {"more than the buffer waiting is bounded", 0, 130, 100, true},
};

}  // namespace ledsign::test

// What a test does when something the machine should have is missing: under CI (CI=true) that is
// a failure, on a developer's machine a skip with the reason and what to install.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace ledsign::test {

inline bool UnderCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

}  // namespace ledsign::test

// Ends the test: FAIL under CI, else GTEST_SKIP; `why` is streamed (a << b << c).
#define LEDSIGN_SKIP_OR_FAIL(why)                                                    \
    do {                                                                             \
        if (::ledsign::test::UnderCi()) FAIL() << why;                               \
        GTEST_SKIP() << why;                                                         \
    } while (false)

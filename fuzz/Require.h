// A fuzz target's check of a property: an input that breaks it is named and the run aborts, so
// that libFuzzer keeps the input and the corpus run fails.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

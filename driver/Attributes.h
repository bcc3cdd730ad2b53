// What GetLEDAtt reports for a model: the plug-ins and the library fill the record one way.
#pragma once

#include <cstring>

#include "include/ledsign.h"
#include "signs/SignIdentity.h"

namespace ledsign {

// Writes the listed fields only, each text up to and including its NUL; the rest of the record
// stays as the host left it.
inline void FillAttributes(const SignIdentity& sign, LEDAtt& attributes) {
    const auto copyText = [](char* destination, const char* text) {
        std::memcpy(destination, text, std::strlen(text) + 1);
    };
    attributes.rowChars = sign.rowChars;
    attributes.rowWideChars = sign.rowWideChars;
    attributes.dots = sign.dots;
    attributes.twoRows = sign.twoRows;
    copyText(attributes.commText, sign.commText);
    copyText(attributes.vendor, sign.vendor);
    copyText(attributes.vendorCopy, sign.vendor);
}

}  // namespace ledsign

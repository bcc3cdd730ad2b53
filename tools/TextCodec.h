// Converting between the terminal's UTF-8 and the signs' GBK.
#pragma once

#include <string>

namespace ledsign::tools {

// False when the text cannot be converted; `result` is then unspecified.
bool Utf8ToGbk(const std::string& utf8, std::string& result);
bool GbkToUtf8(const std::string& gbk, std::string& result);
// For showing what arrived: converts character by character, and a byte or pair that is not
// GBK becomes U+FFFD, so nothing stops the rest of the text from showing.
std::string GbkToUtf8Lenient(const std::string& gbk);
// The same, to code points, for drawing.
std::u32string GbkToUtf32Lenient(const std::string& gbk);

}  // namespace ledsign::tools

#include "tools/TextCodec.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <vector>

namespace ledsign::tools {

namespace {

#if defined(_WIN32)
constexpr UINT kGbkCodePage = 936;

bool Convert(const std::string& text, UINT from, UINT to, std::string& result) {
    result.clear();
    if (text.empty()) return true;
    const DWORD strict = from == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int wide = MultiByteToWideChar(from, strict, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(wide));
    MultiByteToWideChar(from, strict, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
    BOOL lossy = FALSE;
    const int narrow =
        WideCharToMultiByte(to, 0, buffer.data(), wide, nullptr, 0, nullptr, to == CP_UTF8 ? nullptr : &lossy);
    if (narrow <= 0) return false;
    result.resize(static_cast<size_t>(narrow));
    WideCharToMultiByte(to, 0, buffer.data(), wide, result.data(), narrow, nullptr, to == CP_UTF8 ? nullptr : &lossy);
    return !lossy;
}

// GBK has no characters beyond the Basic Multilingual Plane: each UTF-16 unit is one character.
bool GbkToUtf32(const std::string& gbk, std::u32string& result) {
    result.clear();
    if (gbk.empty()) return true;
    const int wide =
        MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(wide));
    MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()), buffer.data(),
                        wide);
    result.assign(buffer.begin(), buffer.end());
    return true;
}
#else
bool ConvertBytes(const std::string& text, const char* from, const char* to, std::string& result) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::string input = text;
    result.assign(text.size() * 4 + 16, '\0');
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = result.data();
    size_t outLeft = result.size();
    const size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (converted == static_cast<size_t>(-1)) return false;
    result.resize(result.size() - outLeft);
    return true;
}

bool Convert(const std::string& text, const char* from, const char* to, std::string& result) {
    return ConvertBytes(text, from, to, result);
}

bool GbkToUtf32(const std::string& gbk, std::u32string& result) {
    std::string bytes;
    if (!ConvertBytes(gbk, "GBK", "UTF-32LE", bytes)) return false;
    result.clear();
    for (size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        const auto byte = [&](size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(bytes[at + k])); };
        result += byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    }
    return true;
}
#endif

// Converts the whole text, else character by character (one byte, or a GBK lead byte and the next),
// with `replacement` for each that does not convert.
template <class Text, class Converter>
Text ConvertLeniently(const std::string& gbk, Converter convert, const Text& replacement) {
    Text whole;
    if (convert(gbk, whole)) return whole;
    Text result;
    size_t index = 0;
    while (index < gbk.size()) {
        const auto lead = static_cast<unsigned char>(gbk[index]);
        const size_t width = lead >= 0x81 && lead <= 0xFE && index + 1 < gbk.size() ? 2 : 1;
        Text character;
        result += convert(gbk.substr(index, width), character) && !character.empty() ? character : replacement;
        index += width;
    }
    return result;
}

}  // namespace

#if defined(_WIN32)
bool Utf8ToGbk(const std::string& utf8, std::string& result) { return Convert(utf8, CP_UTF8, kGbkCodePage, result); }
bool GbkToUtf8(const std::string& gbk, std::string& result) { return Convert(gbk, kGbkCodePage, CP_UTF8, result); }
#else
bool Utf8ToGbk(const std::string& utf8, std::string& result) { return Convert(utf8, "UTF-8", "GBK", result); }
bool GbkToUtf8(const std::string& gbk, std::string& result) { return Convert(gbk, "GBK", "UTF-8", result); }
#endif

std::string GbkToUtf8Lenient(const std::string& gbk) {
    return ConvertLeniently<std::string>(gbk, GbkToUtf8, "\xEF\xBF\xBD");
}

std::u32string GbkToUtf32Lenient(const std::string& gbk) {
    return ConvertLeniently<std::u32string>(gbk, GbkToUtf32, U"\uFFFD");
}

}  // namespace ledsign::tools

#include "ut/utCodePage.h"

#include <windows.h>

std::string utConvertCodePage(const char* text, std::uint32_t length, unsigned from, unsigned to)
{
    if (!text || length == 0 || length > 0x7FFFFFFF) {
        return text ? std::string(text, length) : std::string();
    }
    const int wideLength = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0);
    if (wideLength <= 0) {
        return std::string(text, length);
    }
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), wide.data(), wideLength);
    const int outLength = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (outLength <= 0) {
        return std::string(text, length);
    }
    std::string out(static_cast<std::size_t>(outLength), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, out.data(), outLength, nullptr, nullptr);
    return out;
}

#include "SystemCodePage.h"

#include <windows.h>

#include <climits>

namespace {

std::string ToCodePage(std::wstring_view text, UINT codePage)
{
    if (text.empty() || text.size() > INT_MAX)
        return std::string();
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string narrow(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), length, narrow.data(), needed, nullptr, nullptr);
    return narrow;
}

} // namespace

std::string ToSystemCodePage(std::wstring_view text)
{
    return ToCodePage(text, CP_ACP);
}

std::string ToUtf8(std::wstring_view text)
{
    return ToCodePage(text, CP_UTF8);
}

std::wstring FromSystemCodePage(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX)
        return std::wstring();
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
    return wide;
}

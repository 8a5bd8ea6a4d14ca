#include "FileListSplitter.h"

#include <cwctype>

#include <windows.h>

namespace {

std::wstring ConvertAndTrim(const unsigned char* bytes, uint64_t count)
{
    std::wstring wide;
    if (count > 0) {
        const int n = static_cast<int>(count); // at most 1023 here
        const int needed = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(bytes), n, nullptr, 0);
        if (needed > 0) {
            wide.resize(static_cast<size_t>(needed));
            MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(bytes), n, wide.data(), needed);
        }
    }
    size_t first = 0, last = wide.size();
    while (first < last && std::iswspace(static_cast<wint_t>(wide[first])))
        ++first;
    while (last > first && std::iswspace(static_cast<wint_t>(wide[last - 1])))
        --last;
    return wide.substr(first, last - first);
}

} // namespace

FileListSplit SplitFileList(const unsigned char* data, uint64_t length)
{
    FileListSplit out;
    if (!data)
        return out;
    uint64_t lineStart = 0;
    // Takes the line [lineStart, end); false when it is too long.
    auto takeLine = [&](uint64_t end) {
        const uint64_t count = end - lineStart;
        if (count > kFileListMaxLineBytes) {
            out.longLine = true;
            return false;
        }
        if (count > 0)
            out.entries.push_back(ConvertAndTrim(data + lineStart, count));
        return true;
    };
    for (uint64_t i = 0; i < length; ++i) {
        uint64_t endLength = 0;
        if (data[i] == '\n')
            endLength = 1;
        else if (data[i] == '\r' && i + 1 < length && data[i + 1] == '\n')
            endLength = 2;
        if (endLength == 0)
            continue;
        if (!takeLine(i))
            return out;
        i += endLength - 1;
        lineStart = i + 1;
    }
    if (length - lineStart > 2)
        takeLine(length);
    return out;
}

#include "afx/CString.h"

#include <cwchar>
#include <cwctype>
#include <vector>

void CString::Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const wchar_t* format, va_list args)
{
    // vswprintf reports failure, not the needed size, when the buffer is too
    // small: grow until it fits, up to a bound.
    for (size_t capacity = 256; capacity <= 65536; capacity *= 4) {
        std::vector<wchar_t> buffer(capacity);
        va_list copy;
        va_copy(copy, args);
        int n = std::vswprintf(buffer.data(), capacity, format, copy);
        va_end(copy);
        if (n >= 0) {
            assign(buffer.data(), static_cast<size_t>(n));
            return;
        }
    }
    clear();
}

CString CString::Left(int count) const
{
    if (count <= 0)
        return CString();
    return CString(substr(0, static_cast<size_t>(count)));
}

CString CString::Right(int count) const
{
    if (count <= 0)
        return CString();
    size_t n = static_cast<size_t>(count) < size() ? static_cast<size_t>(count) : size();
    return CString(substr(size() - n));
}

CString CString::Mid(int first) const
{
    if (first < 0)
        first = 0;
    if (static_cast<size_t>(first) >= size())
        return CString();
    return CString(substr(static_cast<size_t>(first)));
}

CString CString::Mid(int first, int count) const
{
    if (first < 0)
        first = 0;
    if (static_cast<size_t>(first) >= size() || count <= 0)
        return CString();
    return CString(substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

int CString::Find(wchar_t ch, int start) const
{
    if (start < 0)
        start = 0;
    size_t at = find(ch, static_cast<size_t>(start));
    return at == npos ? -1 : static_cast<int>(at);
}

int CString::Find(const wchar_t* sub, int start) const
{
    if (start < 0)
        start = 0;
    size_t at = find(sub ? sub : L"", static_cast<size_t>(start));
    return at == npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(wchar_t ch) const
{
    size_t at = rfind(ch);
    return at == npos ? -1 : static_cast<int>(at);
}

CString& CString::MakeLower()
{
    for (wchar_t& c : *this)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return *this;
}

CString& CString::MakeUpper()
{
    for (wchar_t& c : *this)
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return *this;
}

CString& CString::Trim()
{
    size_t first = 0;
    while (first < size() && std::iswspace(static_cast<wint_t>((*this)[first])))
        ++first;
    size_t last = size();
    while (last > first && std::iswspace(static_cast<wint_t>((*this)[last - 1])))
        --last;
    assign(substr(first, last - first));
    return *this;
}

// CString: the framework's wide string, a std::wstring with the helpers the
// window code uses (formatting, searching, case, trimming).
#pragma once

#include <cstdarg>
#include <string>

#include "afx/AfxTypes.h"

class CString : public std::wstring {
public:
    CString() = default;
    CString(const wchar_t* text) : std::wstring(text ? text : L"") {}
    CString(const std::wstring& text) : std::wstring(text) {}
    CString(std::wstring&& text) : std::wstring(std::move(text)) {}
    CString(const wchar_t* text, int length) : std::wstring(text, static_cast<size_t>(length)) {}

    // printf-style formatting; the result replaces the text. Formats longer
    // than 64 K characters are cut there.
    void Format(const wchar_t* format, ...);
    void FormatV(const wchar_t* format, va_list args);

    int GetLength() const { return static_cast<int>(size()); }
    bool IsEmpty() const { return empty(); }
    void Empty() { clear(); }
    operator const wchar_t*() const { return c_str(); }
    wchar_t GetAt(int index) const { return (*this)[static_cast<size_t>(index)]; }

    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    int Find(wchar_t ch, int start = 0) const;
    int Find(const wchar_t* sub, int start = 0) const;
    int ReverseFind(wchar_t ch) const;
    CString& MakeLower();
    CString& MakeUpper();
    CString& Trim();
    int Compare(const wchar_t* other) const { return compare(other ? other : L""); }
};

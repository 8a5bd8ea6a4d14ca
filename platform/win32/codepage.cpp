// MultiByteToWideChar/WideCharToMultiByte for UTF-8 and the code pages iconv
// knows (950 in particular). The system code page is UTF-8 unless
// MESHDROP_CODEPAGE names another.
#include <errno.h>
#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "text.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

UINT ResolveCodePage(UINT codePage) {
  if (codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP) return GetACP();
  return codePage;
}

// Decodes UTF-8; nullopt on an invalid sequence when `strict`.
std::optional<std::wstring> DecodeUtf8(std::string_view in, bool strict) {
  std::wstring out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
    uint32_t cp = extra == 3 ? (c & 0x07) : extra == 2 ? (c & 0x0F) : (c & 0x1F);
    bool ok = extra > 0;
    if (ok) {
      for (int k = 1; k <= extra; ++k) {
        if (i + static_cast<size_t>(k) >= in.size()) {
          ok = false;
          break;
        }
        unsigned char cc = static_cast<unsigned char>(in[i + k]);
        if ((cc & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (cc & 0x3F);
      }
    }
    if (ok) {
      // Reject overlong forms, surrogates and values past U+10FFFF.
      if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
          (cp >= 0xD800 && cp <= 0xDFFF))
        ok = false;
    }
    if (!ok) {
      if (strict) return std::nullopt;
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

// Encodes UTF-8; nullopt on a value that is not a character when `strict`.
std::optional<std::string> EncodeUtf8(std::wstring_view in, bool strict) {
  std::string out;
  out.reserve(in.size());
  for (wchar_t wc : in) {
    uint32_t cp = static_cast<uint32_t>(wc);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      if (strict) return std::nullopt;
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string IconvName(UINT codePage) { return "CP" + std::to_string(codePage); }

class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (valid()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Decodes a code page through iconv; nullopt on invalid input when `strict`
// or when the code page is unknown.
std::optional<std::wstring> DecodeIconv(UINT codePage, std::string_view in, bool strict) {
  Iconv cd("WCHAR_T", IconvName(codePage));
  if (!cd.valid()) return std::nullopt;
  std::wstring out;
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  wchar_t chunk[256];
  while (srcLeft > 0) {
    char* dst = reinterpret_cast<char*>(chunk);
    size_t dstLeft = sizeof(chunk);
    size_t rc = iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
    out.append(chunk, (sizeof(chunk) - dstLeft) / sizeof(wchar_t));
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      if (strict) return std::nullopt;
      out.push_back(kReplacement);  // invalid or truncated sequence: skip one byte
      ++src;
      --srcLeft;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

// Encodes through iconv one character at a time so that a character without
// a mapping becomes the default character; nullopt for an unknown code page.
std::optional<std::string> EncodeIconv(UINT codePage, std::wstring_view in, const std::string& defaultChar,
                                       bool* usedDefault) {
  Iconv cd(IconvName(codePage), "WCHAR_T");
  if (!cd.valid()) return std::nullopt;
  std::string out;
  for (wchar_t wc : in) {
    char* src = reinterpret_cast<char*>(&wc);
    size_t srcLeft = sizeof(wc);
    char buf[16];
    char* dst = buf;
    size_t dstLeft = sizeof(buf);
    if (iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) {
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
      out += defaultChar;
      if (usedDefault) *usedDefault = true;
      continue;
    }
    out.append(buf, sizeof(buf) - dstLeft);
  }
  return out;
}

template <typename Char>
int Deliver(const std::basic_string<Char>& converted, Char* out, int outSize) {
  if (converted.size() > static_cast<size_t>(INT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = static_cast<int>(converted.size());
  if (outSize == 0) return needed;
  if (needed > outSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, converted.data(), converted.size() * sizeof(Char));
  return needed;
}

}  // namespace

UINT WINAPI GetACP(void) {
  const char* configured = std::getenv("MESHDROP_CODEPAGE");
  if (configured && *configured) {
    long value = std::strtol(configured, nullptr, 10);
    if (value > 0 && value < 65536 && IsValidCodePage(static_cast<UINT>(value))) return static_cast<UINT>(value);
  }
  return CP_UTF8;
}

UINT WINAPI GetOEMCP(void) { return GetACP(); }

BOOL WINAPI IsValidCodePage(UINT CodePage) {
  if (CodePage == CP_UTF8) return TRUE;
  Iconv cd("WCHAR_T", IconvName(CodePage));
  return cd.valid() ? TRUE : FALSE;
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // With -1 the terminator is converted too and counted.
  size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  std::string_view in(lpMultiByteStr, length);
  bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  UINT cp = ResolveCodePage(CodePage);
  std::optional<std::wstring> out = cp == CP_UTF8 ? DecodeUtf8(in, strict) : DecodeIconv(cp, in, strict);
  if (!out) {
    SetLastError(IsValidCodePage(cp) ? ERROR_NO_UNICODE_TRANSLATION : ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Deliver(*out, lpWideCharStr, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  std::wstring_view in(lpWideCharStr, length);
  UINT cp = ResolveCodePage(CodePage);
  std::optional<std::string> out;
  if (cp == CP_UTF8) {
    if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {  // as on Windows
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    out = EncodeUtf8(in, (dwFlags & WC_ERR_INVALID_CHARS) != 0);
    if (!out) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    bool used = false;
    out = EncodeIconv(cp, in, lpDefaultChar ? std::string(lpDefaultChar, 1) : std::string("?"), &used);
    if (!out) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = used ? TRUE : FALSE;
  }
  return Deliver(*out, lpMultiByteStr, cbMultiByte);
}

namespace w32 {

std::wstring ToWide(UINT codePage, std::string_view text) {
  UINT cp = ResolveCodePage(codePage);
  auto out = cp == CP_UTF8 ? DecodeUtf8(text, false) : DecodeIconv(cp, text, false);
  return out ? *out : std::wstring();
}

std::string FromWide(UINT codePage, std::wstring_view text) {
  UINT cp = ResolveCodePage(codePage);
  auto out = cp == CP_UTF8 ? EncodeUtf8(text, false) : EncodeIconv(cp, text, "?", nullptr);
  return out ? *out : std::string();
}

template <typename Char>
static DWORD CopyOutImpl(std::basic_string_view<Char> text, Char* buffer, DWORD size) {
  if (buffer == nullptr || text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.data(), text.size() * sizeof(Char));
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

DWORD CopyOut(std::string_view text, LPSTR buffer, DWORD size) { return CopyOutImpl(text, buffer, size); }
DWORD CopyOut(std::wstring_view text, LPWSTR buffer, DWORD size) { return CopyOutImpl(text, buffer, size); }

}  // namespace w32

#include "registry_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <optional>

#include "text.h"

namespace w32 {
namespace {

std::string EscapeString(const std::wstring& text) {
  std::string out;
  for (char c : WideToUtf8(text)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the quote.
std::optional<std::wstring> ParseQuoted(std::string_view s, size_t& pos) {
  std::string out;
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      return Utf8ToWide(out);
    }
    if (c == '\\' && pos + 1 < s.size()) {
      char n = s[++pos];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

bool IsEscapedInKeyName(unsigned char c) { return c == '%' || c < 0x20 || c == 0x7F; }

std::string EscapeKeyName(const std::wstring& path) {
  std::string out;
  for (char c : WideToUtf8(path)) {
    if (IsEscapedInKeyName(static_cast<unsigned char>(c))) {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Undoes EscapeKeyName; a "%" not followed by the code of an escaped
// character is kept as it stands.
std::wstring UnescapeKeyName(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
      if (high >= 0 && low >= 0 && IsEscapedInKeyName(static_cast<unsigned char>(high * 16 + low))) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return Utf8ToWide(out);
}

void WriteValue(std::string& out, const RegistryValue& v) {
  out += (v.name.empty() ? std::string("@") : "\"" + EscapeString(v.name) + "\"") + '=';
  char buf[16];
  if (IsPlainString(v)) {
    out += '"' + EscapeString(AsString(v)) + "\"\n";
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.data.data(), 4);
    std::snprintf(buf, sizeof(buf), "dword:%08x", d);
    out += buf + std::string("\n");
  } else {
    if (v.type == REG_BINARY) {
      out += "hex:";
    } else {
      std::snprintf(buf, sizeof(buf), "hex(%x):", v.type);
      out += buf;
    }
    for (size_t i = 0; i < v.data.size(); ++i) {
      std::snprintf(buf, sizeof(buf), i ? ",%02x" : "%02x", v.data[i]);
      out += buf;
    }
    out += '\n';
  }
}

// One "name=data" line, or nothing when it is not understood.
std::optional<RegistryValue> ParseValue(std::string_view line) {
  size_t pos = 0;
  RegistryValue v;
  if (line[0] == '@') {
    pos = 1;
  } else {
    auto name = ParseQuoted(line, pos);
    if (!name) return std::nullopt;
    v.name = *name;
  }
  if (pos >= line.size() || line[pos] != '=') return std::nullopt;
  std::string data(line.substr(pos + 1));
  if (!data.empty() && data[0] == '"') {
    size_t p = 0;
    auto text = ParseQuoted(data, p);
    if (!text) return std::nullopt;
    SetString(v, *text);
  } else if (data.rfind("dword:", 0) == 0) {
    DWORD d = static_cast<DWORD>(std::strtoul(data.c_str() + 6, nullptr, 16));
    v.type = REG_DWORD;
    v.data.resize(sizeof(d));
    std::memcpy(v.data.data(), &d, sizeof(d));
  } else if (data.rfind("hex", 0) == 0) {
    size_t colon = data.find(':');
    if (colon == std::string::npos) return std::nullopt;
    v.type = data[3] == '(' ? static_cast<DWORD>(std::strtoul(data.c_str() + 4, nullptr, 16)) : REG_BINARY;
    for (size_t at = colon + 1; at < data.size();) {
      size_t comma = data.find(',', at);
      if (comma == std::string::npos) comma = data.size();
      if (comma > at)
        v.data.push_back(static_cast<BYTE>(std::strtoul(data.substr(at, comma - at).c_str(), nullptr, 16)));
      at = comma + 1;
    }
  } else {
    return std::nullopt;
  }
  return v;
}

}  // namespace

std::wstring LowerName(std::wstring name) {
  for (auto& c : name) c = static_cast<wchar_t>(std::towlower(c));
  return name;
}

bool IsPlainString(const RegistryValue& v) {
  if (v.type != REG_SZ || v.data.size() < sizeof(wchar_t) || v.data.size() % sizeof(wchar_t)) return false;
  size_t n = v.data.size() / sizeof(wchar_t);
  std::wstring w(n, L'\0');
  std::memcpy(w.data(), v.data.data(), v.data.size());
  return w.back() == 0 && w.find(L'\0') == n - 1;
}

std::wstring AsString(const RegistryValue& v) {
  std::wstring w(v.data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(w.data(), v.data.data(), w.size() * sizeof(wchar_t));
  if (!w.empty() && w.back() == 0) w.pop_back();
  return w;
}

void SetString(RegistryValue& v, const std::wstring& text) {
  v.type = REG_SZ;
  v.data.resize((text.size() + 1) * sizeof(wchar_t));
  std::memcpy(v.data.data(), text.c_str(), v.data.size());
}

RegistryHive ParseRegistryText(std::string_view text) {
  RegistryHive hive;
  RegistryKey* key = nullptr;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      std::wstring name = UnescapeKeyName(line.substr(1, line.size() - 2));
      key = &hive[LowerName(name)];
      if (key->path.empty()) key->path = name;
      continue;
    }
    if (key == nullptr || line.empty() || (line[0] != '"' && line[0] != '@')) continue;
    if (auto value = ParseValue(line)) key->values[LowerName(value->name)] = std::move(*value);
  }
  return hive;
}

std::string RegistryText(const RegistryHive& hive) {
  std::string out = "REGEDIT4\n";
  for (auto& [lower, key] : hive) {
    out += "\n[" + EscapeKeyName(key.path) + "]\n";
    for (auto& [name, value] : key.values) WriteValue(out, value);
  }
  return out;
}

}  // namespace w32

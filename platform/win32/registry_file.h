// The registry's text file: REGEDIT4 (so that it can be imported into a Wine
// prefix) read into keys and values, and written back.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "windows.h"

namespace w32 {

struct RegistryValue {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;  // as RegSetValueExW received it (wide strings in wchar_t)
};

struct RegistryKey {
  std::wstring path;                             // as first written
  std::map<std::wstring, RegistryValue> values;  // by lower-case name
};

using RegistryHive = std::map<std::wstring, RegistryKey>;  // by lower-case path

std::wstring LowerName(std::wstring name);

// Keys and values of a REGEDIT4 text; lines it does not understand are
// skipped. Never fails: any bytes give some hive.
RegistryHive ParseRegistryText(std::string_view text);
// The REGEDIT4 text of a hive, which parses back to the same hive. Value
// names and strings escape "\", '"' and line ends; key names, whose "\"
// separates keys, write "%", line ends and other control characters as %XX.
std::string RegistryText(const RegistryHive& hive);

// A REG_SZ value written as one terminated string without inner nulls
// (stored as text in the file); its text; and making a value such a string.
bool IsPlainString(const RegistryValue& value);
std::wstring AsString(const RegistryValue& value);
void SetString(RegistryValue& value, const std::wstring& text);

}  // namespace w32

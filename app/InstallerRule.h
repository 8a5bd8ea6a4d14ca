// Which completed file of the package is the installer. The window and the
// command-line front end share the rule.
#pragma once

#include <cstddef>
#include <string_view>

// A list of one file: that file, whatever it is called. Among several files:
// a local path whose text from its last dot on is ".exe" in any letter case.
bool IsInstallerPath(size_t fileListSize, std::wstring_view localPath);

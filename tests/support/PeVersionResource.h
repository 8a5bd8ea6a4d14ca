#pragma once
#include <string>

namespace testsupport {

// Writes a Windows program (PE32+) whose resources hold one version block,
// made by the mingw-w64 binutils: windres compiles `versionInfo`, the
// statement "1 VERSIONINFO ..." of a resource script in UTF-8, and ld links
// it. Returns false (with the tools' output on stderr) when a tool fails.
bool MakePeWithVersionInfo(const std::string& versionInfo, const std::string& exePath);

// A VERSIONINFO statement: FILEVERSION from `fileVersion` ("a,b,c,d"), the
// string tables given as their key ("040404B0") and VALUE lines, and the
// translation VALUE's numbers ("0x0404, 1200").
std::string VersionInfoStatement(const std::string& fileVersion, const std::string& stringTables,
                                 const std::string& translation);

} // namespace testsupport

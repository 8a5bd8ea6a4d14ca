#pragma once
// The version of an installed program: the FileVersion string of its version
// resource, as the engine update compares it with the version it is offered.

#include <string>

// Reads the version of the program at a Windows path. The string table is
// the one the 4-byte translation table names; with a translation table of
// any other size, the user's default language in Unicode (code page 04B0).
// False (and an empty version) when the file is missing, has no version
// resource or no such string.
[[nodiscard]] bool ReadProgramVersion(const char* path, std::string& version);

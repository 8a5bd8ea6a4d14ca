// Drive mapping between Windows paths and POSIX paths.
#pragma once

#include <optional>
#include <string>

namespace w32 {

// The folder C: stands for, without a trailing slash.
std::string DriveCRoot();
// A Windows path as a POSIX path (UTF-8); nullopt for an unknown drive or a
// network path. A trailing separator is kept.
std::optional<std::string> ToPosixPath(const std::wstring& windowsPath);
// A POSIX path as a Windows path on C: or Z:.
std::wstring FromPosixPath(const std::string& posixPath);

// The POSIX path for an A or W argument, or nullopt with the last error set
// (ERROR_PATH_NOT_FOUND, or ERROR_INVALID_PARAMETER for null).
std::optional<std::string> PosixArgument(const char* windowsPath);
std::optional<std::string> PosixArgument(const wchar_t* windowsPath);

}  // namespace w32

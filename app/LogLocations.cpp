#include "LogLocations.h"

#include <shlobj.h>
#include <win32_ext.h>
#include <windows.h>

namespace {

// The folders and files the library and the engine use: the engine's folder
// is "Orvane\qlsDownloadV32\" of the roaming folder, the service log is
// "config\service.log" in it, and the engine, "QLSDownloadV32.exe", writes
// "QLSDownloadV32.log" beside its program.
constexpr const char* kEngineFolder = "Orvane\\qlsDownloadV32\\";
constexpr const char* kServiceLog = "config\\service.log";
constexpr const char* kEngineProgram = "QLSDownloadV32.exe";
constexpr const char* kEngineLog = "QLSDownloadV32.log";

} // namespace

LogLocations WindowsLogLocations()
{
    char appData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
        appData[0] = '\0';
    std::string folder = appData;
    if (!folder.empty() && folder.back() != '\\')
        folder.push_back('\\');
    folder += kEngineFolder;
    return {folder, folder + kEngineProgram, folder + kServiceLog, folder + kEngineLog,
            folder + kEngineLog + std::string(".old")};
}

LogLocations PosixLogLocations()
{
    const LogLocations windows = WindowsLogLocations();
    return {W32PathToPosix(windows.engineFolder), W32PathToPosix(windows.engineProgram),
            W32PathToPosix(windows.serviceLog), W32PathToPosix(windows.engineLog),
            W32PathToPosix(windows.engineLogOld)};
}

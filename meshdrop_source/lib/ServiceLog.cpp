#include "ServiceLog.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "FolderPath.h"
#include "IGetPath.h"

namespace {

constexpr size_t kFormatBufferSize = 512;

std::string BuildLogPath()
{
    std::string dataFolder;
    GetPathProvider().GetInstallFolder(dataFolder);
    return dataFolder + "config\\service.log";
}

// The local time in asctime form, without its trailing newline.
std::string TimeStamp()
{
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char text[64] = {};
    if (asctime_r(&local, text) == nullptr)
        return std::string();
    std::string stamp(text);
    while (!stamp.empty() && (stamp.back() == '\n' || stamp.back() == '\r'))
        stamp.pop_back();
    return stamp;
}

} // namespace

const char* GetServiceLogPath()
{
    static const std::string path = BuildLogPath();
    return path.c_str();
}

void WriteServiceLog(const char* message)
{
    std::string line = "[" + TimeStamp() + "] ";
    line += message != nullptr ? message : "";
    line += "\r\n";

    // Lines of the client's thread and of the worker never interleave or
    // overwrite each other: the seek to the end and the write go together.
    static std::mutex appendMutex;
    std::lock_guard<std::mutex> guard(appendMutex);
    HANDLE file = CreateFileA(GetServiceLogPath(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

void WriteServiceLogFormat(const char* format, ...)
{
    char small[kFormatBufferSize];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        va_end(again);
        WriteServiceLog(small);
        return;
    }
    // Longer texts are formatted again into a heap buffer of the needed size.
    std::vector<char> large(static_cast<size_t>(needed) + 1);
    vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    WriteServiceLog(large.data());
}

std::string PrintableLogText(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return text;
}

void WriteDiagnosticLog(const char* /*message*/) {}

void ResetServiceLog()
{
    const std::string path = GetServiceLogPath();
    // A folder that cannot be made shows up as a log that cannot be created.
    (void)CreateFolderPrefixes(path);
    DeleteFileA(path.c_str());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

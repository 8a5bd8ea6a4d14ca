#include "EngineLog.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace engine {

namespace {

constexpr long kLogLimit = 1024 * 1024;

std::string g_path;
std::FILE* g_file = nullptr;
// The loop and the agent reporter's thread both log.
std::mutex g_mutex;

void Reopen()
{
    if (g_file) {
        std::fclose(g_file);
    }
    g_file = std::fopen(g_path.c_str(), "a");
}

} // namespace

void OpenLog(const std::string& folder)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_path = folder + "/QLSDownloadV32.log";
    Reopen();
}

void CloseLog()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_file) {
        std::fclose(g_file);
        g_file = nullptr;
    }
}

void Log(const char* format, ...)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_file) {
        return;
    }
    if (std::ftell(g_file) > kLogLimit) {
        std::rename(g_path.c_str(), (g_path + ".old").c_str());
        Reopen();
        if (!g_file) {
            return;
        }
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32] = {};
    asctime_r(&local, stamp);
    stamp[std::strcspn(stamp, "\n")] = '\0';
    std::fprintf(g_file, "[%s] ", stamp);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(g_file, format, arguments);
    va_end(arguments);
    std::fputc('\n', g_file);
    std::fflush(g_file);
}

} // namespace engine

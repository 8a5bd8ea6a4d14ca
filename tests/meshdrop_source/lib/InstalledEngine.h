#pragma once
// The engine program as the library installs and starts it: its folder in
// the roaming application-data folder of the test's C: drive, and the
// processes that run it, which a test stops (or kills) itself.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <win32_ext.h>
#include <windows.h>

namespace installedengine {

inline std::string Folder()
{
    char appData[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
    return W32PathToPosix(std::string(appData) + "\\Orvane\\qlsDownloadV32");
}

inline std::string Program()
{
    return Folder() + "/QLSDownloadV32.exe";
}

// The processes that run the installed program.
inline std::vector<pid_t> Pids()
{
    namespace fs = std::filesystem;
    const std::string program = fs::weakly_canonical(Program()).string();
    std::vector<pid_t> pids;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code error;
        const std::string exe = fs::read_symlink(entry.path() / "exe", error).string();
        if (!error && (exe == program || exe == program + " (deleted)"))
            pids.push_back(std::stoi(name));
    }
    return pids;
}

// Whether the process has ended: gone, or a zombie (its memory, and with it
// the program file, released).
inline bool Ended(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return true;
    const size_t name = text.rfind(") ");
    return name == std::string::npos || name + 2 >= text.size() || text[name + 2] == 'Z' || text[name + 2] == 'X';
}

// Sends `signal` to every running engine and waits until each of them has
// ended (the library may start the next one meanwhile). A process has no
// descriptor to wait on: look every 20 ms, for at most 60 s.
inline bool Stop(int signal = SIGTERM)
{
    const std::vector<pid_t> pids = Pids();
    for (const pid_t pid : pids)
        kill(pid, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        if (std::all_of(pids.begin(), pids.end(), Ended))
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace installedengine

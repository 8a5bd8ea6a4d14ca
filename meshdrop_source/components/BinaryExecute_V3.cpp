#include "BinaryExecute_V3.h"

#include <windows.h>

#include "IGetPath.h"
#include "Library.h"
#include "ServiceLog.h"

namespace {

CBinaryExecute_V3 g_binaryExecutor;

// NT 6 (Vista) and later ask the user before a program runs elevated.
bool SystemHasElevation()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion > 5;
}

// Shell-executes the program with the verb; false on failure.
bool ShellRun(const char* verb, const std::string& path, HANDLE& process)
{
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = verb;
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info))
        return false;
    process = info.hProcess;
    return true;
}

// Starts the program as a process of its own; false on failure.
bool CreateRun(const std::string& path, HANDLE& process)
{
    // Quoted, so that a path with spaces stays one program name.
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return false;
    CloseHandle(started.hThread);
    process = started.hProcess;
    return true;
}

} // namespace

CBinaryExecute_V3& GetBinaryExecutor()
{
    return g_binaryExecutor;
}

int CBinaryExecute_V3::GetProgramPath(std::string& path)
{
    std::string program;
    GetPathProvider().GetProgramPath(program);
    if (program.empty() || GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES)
        return 0;
    CopyPath(path, program);
    return 1;
}

std::string& CBinaryExecute_V3::CopyPath(std::string& to, const std::string& from)
{
    to = from;
    return to;
}

int CBinaryExecute_V3::Execute(const char*)
{
    std::string path;
    if (!GetProgramPath(path)) {
        WriteServiceLog("[MeshdropLib] Run Binary (no executable file)");
        return 0;
    }
    const char* verb = SystemHasElevation() && Library_GetElevationSwitch() == 1 ? "runas" : "open";

    HANDLE process = nullptr;
    if (ShellRun(verb, path, process)) {
        WriteServiceLog("[MeshdropLib] Execute OK(0)");
    } else if (GetLastError() == ERROR_CANCELLED) {
        WriteServiceLogFormat("[MeshdropLib] Execute Fail(0) %s:%d", path.c_str(), static_cast<int>(ERROR_CANCELLED));
        if (ShellRun("open", path, process)) {
            WriteServiceLog("[MeshdropLib] Execute OK(1)");
        } else {
            WriteServiceLogFormat("[MeshdropLib] Execute Fail(1) %s:%d", path.c_str(),
                                  static_cast<int>(GetLastError()));
            if (!CreateRun(path, process)) {
                WriteServiceLogFormat("[MeshdropLib] Execute Fail(2) %s:%d", path.c_str(),
                                      static_cast<int>(GetLastError()));
                return 0;
            }
            WriteServiceLog("[MeshdropLib] Execute OK(2)");
        }
    } else if (CreateRun(path, process)) {
        WriteServiceLog("[MeshdropLib] Execute OK(3)");
    } else {
        WriteServiceLogFormat("[MeshdropLib] Execute Fail(3) %s:%d", path.c_str(), static_cast<int>(GetLastError()));
        return 0;
    }

    WriteServiceLog("[MeshdropLib] Begin WFII");
    if (process != nullptr)
        WaitForInputIdle(process, INFINITE);
    WriteServiceLog("[MeshdropLib] End WFII");
    if (process != nullptr)
        CloseHandle(process);
    return 1;
}

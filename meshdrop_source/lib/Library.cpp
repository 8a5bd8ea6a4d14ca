#include "Library.h"

#include <atomic>

#include "DownloadLibThread.h"
#include "JobManager.h"
#include "ServiceLog.h"

namespace {

constexpr DWORD kStartTimeoutMs = 3000;
// How long finalisation waits for reports to reach the agent server.
constexpr DWORD kReportDrainTimeoutMs = 2000;

CDownloadLibThread* g_pInstance = nullptr;
void* g_pUserValue = nullptr;
// Written by the client's thread, read by the worker's loop.
std::atomic<int> g_nRunning{0};
// Set on the client's thread, read where programs are started (worker thread).
std::atomic<int> g_nElevation{0};

} // namespace

int Library_Initialize(HWND clientWindow, MeshdropLibEventCallback callback, void* userValue, int elevation)
{
    if (g_pInstance != nullptr)
        return MESHDROPLIB_ERROR_ALREADY_INITIALIZED;

    g_pInstance = new CDownloadLibThread();
    HANDLE startEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    int result = MESHDROPLIB_ERROR_FAILED;
    if (startEvent != nullptr && g_pInstance->Start(startEvent) &&
        WaitForSingleObject(startEvent, kStartTimeoutMs) == WAIT_OBJECT_0) {
        CJobManager* manager = g_pInstance->GetJobManager();
        if (manager != nullptr) {
            g_pInstance->SetUserValue(userValue);
            result = manager->Initialize(clientWindow, callback, userValue, elevation);
        }
    }
    // The worker signals through the instance; once the event is detached
    // there, a late signal cannot reach a closed handle.
    g_pInstance->DetachStartEvent();
    if (startEvent != nullptr)
        CloseHandle(startEvent);

    if (result == MESHDROPLIB_OK) {
        WriteServiceLog("[MeshdropLib] Initialize");
        g_pUserValue = userValue;
    } else {
        WriteServiceLogFormat("[MeshdropLib] Initialize Failed : %d", result);
    }
    return result;
}

int Library_Finalize()
{
    WriteServiceLog("[MeshdropLib] Finalize Begin");
    if (CJobManager* manager = Library_GetJobManager())
        manager->DrainReports(kReportDrainTimeoutMs);
    delete g_pInstance;
    g_pInstance = nullptr;
    g_pUserValue = nullptr;
    WriteServiceLog("[MeshdropLib] Finalize End");
    return MESHDROPLIB_OK;
}

CDownloadLibThread* Library_GetInstance()
{
    return g_pInstance;
}

CJobManager* Library_GetJobManager()
{
    return g_pInstance != nullptr ? g_pInstance->GetJobManager() : nullptr;
}

void* Library_GetUserValue()
{
    return g_pUserValue;
}

bool Library_IsRunning()
{
    return g_nRunning.load() != 0;
}

void Library_SetRunning(bool running)
{
    g_nRunning.store(running ? 1 : 0);
}

int Library_GetElevationSwitch()
{
    return g_nElevation.load();
}

void Library_SetElevationSwitch(int elevation)
{
    g_nElevation.store(elevation);
}

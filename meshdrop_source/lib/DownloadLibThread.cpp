#include "DownloadLibThread.h"

#include <process.h>

#include "DeferredDestruction.h"
#include "JobManager.h"
#include "Library.h"
#include "ServiceLog.h"
#include "cp/cpCMutex.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {
constexpr DWORD kStopTimeoutMs = 3000;
}

CDownloadLibThread::CDownloadLibThread() : m_shared(std::make_shared<WorkerState>())
{
    Library_SetRunning(false);
}

CDownloadLibThread::~CDownloadLibThread()
{
    Library_SetRunning(false);
    bool ended = true;
    if (m_hThread != nullptr) {
        PostThreadMessageA(m_nThreadId, WM_QUIT, 0, 0);
        ended = WaitForSingleObject(m_hThread, kStopTimeoutMs) == WAIT_OBJECT_0;
        if (!ended) {
            WriteServiceLog("[MeshdropLib] Force TerminateThread");
            TerminateThread(m_hThread, 0);
        }
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }

    WriteServiceLog("[MeshdropLib] Destroy JobManager");
    CJobManager* manager = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_shared->mutex);
        if (ended || m_shared->workerEnded)
            manager = m_shared->jobManager.exchange(nullptr);
        else
            m_shared->abandoned = true; // the worker may still use the manager (and hold the lock)
    }
    delete manager;
}

bool CDownloadLibThread::Start(HANDLE startEvent)
{
    {
        std::lock_guard<std::mutex> guard(m_shared->mutex);
        m_shared->startEvent = startEvent;
    }
    Library_SetRunning(true);
    auto* argument = new std::shared_ptr<WorkerState>(m_shared);
    m_hThread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &CDownloadLibThread::ThreadProc, argument, 0, &m_nThreadId));
    if (m_hThread == nullptr) {
        delete argument;
        return false;
    }
    return true;
}

void CDownloadLibThread::DetachStartEvent()
{
    std::lock_guard<std::mutex> guard(m_shared->mutex);
    m_shared->startEvent = nullptr;
}

unsigned __stdcall CDownloadLibThread::ThreadProc(void* argument)
{
    std::unique_ptr<std::shared_ptr<WorkerState>> state(static_cast<std::shared_ptr<WorkerState>*>(argument));
    return Run(*state);
}

unsigned CDownloadLibThread::Run(const std::shared_ptr<WorkerState>& state)
{
    ovSmartPtr lock;
    lock.CreateInstance(OVCLS_MUTEX);
    CJobManager* manager = nullptr;
    {
        cpCMutexLock guard(lock.Get<cpCMutex>());
        manager = new CJobManager(lock);
        state->jobManager.store(manager);
        std::lock_guard<std::mutex> eventGuard(state->mutex);
        if (state->startEvent != nullptr)
            SetEvent(state->startEvent);
    }

    MSG msg;
    // A retrieval error (-1) ends the loop as a quit message does.
    while (GetMessageA(&msg, nullptr, 0, 0) > 0 && Library_IsRunning()) {
        TranslateMessage(&msg);
        // Each message (a socket notice, a timer tick) is one report: what
        // it lets go of is destroyed once it has been handled.
        CReportGuard report(lock.Get<cpCMutex>());
        DispatchMessageA(&msg);
    }
    WriteServiceLog("[MeshdropLib] Exit GetMessage Loop");

    manager->ShutdownNetwork();
    lock.Reset();

    bool abandoned = false;
    {
        std::lock_guard<std::mutex> guard(state->mutex);
        state->workerEnded = true;
        abandoned = state->abandoned;
    }
    if (abandoned)
        delete state->jobManager.exchange(nullptr);
    return 0;
}

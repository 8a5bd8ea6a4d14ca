#pragma once
// CDownloadLibThread: the library's worker thread. The worker creates the
// library lock and the job manager (and with it the network environment on
// its own thread), signals its creator, and then dispatches socket and timer
// messages until it is told to quit.

#include <atomic>
#include <memory>
#include <mutex>

#include <windows.h>

class CJobManager;

class CDownloadLibThread {
public:
    CDownloadLibThread();
    // Stops the worker (quit message, at most 3000 ms) and destroys the job
    // manager on the calling thread.
    virtual ~CDownloadLibThread();

    CDownloadLibThread(const CDownloadLibThread&) = delete;
    CDownloadLibThread& operator=(const CDownloadLibThread&) = delete;

    // Keeps the start-up event, raises the running flag and creates the
    // worker thread. False when the thread could not be created.
    [[nodiscard]] bool Start(HANDLE startEvent);

    // Forgets the start-up event, so the worker no longer signals it; called
    // by the initialising call before it closes the event.
    void DetachStartEvent();

    CJobManager* GetJobManager() const { return m_shared->jobManager.load(); }
    void SetUserValue(void* userValue) { m_pUserValue = userValue; }
    void* GetUserValue() const { return m_pUserValue; }

private:
    // What the instance and its worker share. A worker that does not end in
    // time cannot be killed safely on POSIX: it is abandoned and keeps this
    // state alive until it ends by itself.
    struct WorkerState {
        std::atomic<CJobManager*> jobManager{nullptr}; // set by the worker during start-up
        std::mutex mutex;                              // guards the three below
        HANDLE startEvent = nullptr;                   // borrowed from the initialising call
        bool workerEnded = false;
        bool abandoned = false; // the worker destroys the job manager itself
    };

    static unsigned __stdcall ThreadProc(void* argument);
    static unsigned Run(const std::shared_ptr<WorkerState>& state);

    std::shared_ptr<WorkerState> m_shared;
    HANDLE m_hThread = nullptr;
    unsigned m_nThreadId = 0;
    void* m_pUserValue = nullptr;
};

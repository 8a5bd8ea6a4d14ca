#include "EngineWait.h"

std::optional<EngineWait::Say> EngineWait::Tell(Say say)
{
    m_saying = true;
    if (m_last == say)
        return std::nullopt;
    m_last = say;
    return say;
}

std::optional<EngineWait::Say> EngineWait::OnJobStarted()
{
    m_job = Job::Waiting;
    m_last.reset();
    m_saying = false;
    // A ready engine takes the job at once, and without an engine the job
    // goes the direct way from the start: nothing to say in either case.
    return m_engine == Engine::Preparing ? Tell(Say::Updating) : std::nullopt;
}

void EngineWait::OnJobEnded()
{
    m_job = Job::None;
    m_saying = false;
}

std::optional<EngineWait::Say> EngineWait::OnEvent(UINT code)
{
    // With a job on the engine's side, update events and the engine's
    // readiness after it has run are a relaunch of an engine that closed:
    // the job waits for it again.
    const bool onEngine = m_job == Job::Waiting || m_job == Job::Running;
    switch (code) {
    case MESHDROPLIB_EVENT_ENGINE_UPDATE_FILE:
    case MESHDROPLIB_EVENT_ENGINE_UPDATE_DATA:
        if (m_engine == Engine::Gone)
            return std::nullopt;
        m_engine = Engine::Preparing;
        return onEngine ? Tell(Say::Updating) : std::nullopt;
    case MESHDROPLIB_EVENT_ENGINE_READY:
        if (m_engine == Engine::Gone)
            return std::nullopt;
        m_engine = Engine::Ready;
        // A job that was waiting in silence goes to the engine at once.
        return (m_job == Job::Waiting && m_last) || m_job == Job::Running ? Tell(Say::Starting) : std::nullopt;
    case MESHDROPLIB_EVENT_ENGINE_UPDATE_FAILED:
    case MESHDROPLIB_EVENT_ENGINE_PATH_FAILED:
    case MESHDROPLIB_EVENT_ENGINE_DROPPED:
        m_engine = Engine::Gone;
        if (!onEngine)
            return std::nullopt;
        m_job = Job::Direct;
        return Tell(Say::Direct);
    case MESHDROPLIB_EVENT_JOB_SIZE:
        if (m_job == Job::Waiting)
            m_job = Job::Running;
        return std::nullopt;
    case MESHDROPLIB_EVENT_JOB_PROGRESS:
        if (m_job == Job::Waiting)
            m_job = Job::Running;
        // Progress replaces whatever was said, which may be said again.
        m_saying = false;
        m_last.reset();
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::optional<EngineWait::Say> EngineWait::OnNotice(uint32_t code)
{
    // The engine gave the job up; the direct downloader takes it over.
    if (code != MESHDROPLIB_NOTICE_ENGINE_JOB_ERROR || (m_job != Job::Waiting && m_job != Job::Running))
        return std::nullopt;
    m_job = Job::Direct;
    return Tell(Say::Direct);
}

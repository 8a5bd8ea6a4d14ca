// What the player is told while the local engine keeps a started download
// waiting, and when the download leaves the engine for the direct path. The
// library updates and starts the engine on its own (events 518 to 520) and
// hands a job to it once it is connected; until then a started job shows no
// progress at all. The window and the command-line front end share the rule
// and each say its outcome in their own words.
#pragma once

#include <cstdint>
#include <optional>

#include "MeshdropLib.h"

class EngineWait {
public:
    enum class Say {
        Updating, // the engine update holds the job
        Starting, // the update is done; the engine starts and takes the job
        Direct,   // the engine is not available: the job goes the direct way
    };

    // The client's job started, or ended (stopped, finished, deleted).
    // Events of the engine update before the start keep no job waiting.
    std::optional<Say> OnJobStarted();
    void OnJobEnded();
    // Every library event the client receives; the job events (513, 514)
    // only when they are about the client's current job.
    std::optional<Say> OnEvent(UINT code);
    // A notice popped for the client's current job.
    std::optional<Say> OnNotice(uint32_t code);

    // True while the last thing said still stands: no progress has
    // replaced it and the job has not ended.
    bool Saying() const { return m_saying; }

private:
    enum class Engine { Preparing, Ready, Gone };
    enum class Job { None, Waiting, Running, Direct };

    std::optional<Say> Tell(Say say);

    Engine m_engine = Engine::Preparing; // the update runs from initialisation on
    Job m_job = Job::None;
    bool m_saying = false;
    std::optional<Say> m_last;
};

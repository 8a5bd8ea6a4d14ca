#include "Job.h"

#include <algorithm>
#include <cstring>

#include "EngineLog.h"
#include "ProgressReport.h"
#include "SegmentPlanner.h"

namespace engine {

namespace {

constexpr double kNetworkGiveUpSeconds = 120.0;
constexpr auto kReportInterval = std::chrono::seconds(1);

const char* DeathOf(Failure failure)
{
    switch (failure) {
    case Failure::Permanent:
        return "";
    case Failure::Certificate:
        return ", its certificate refused";
    case Failure::SizeMismatch:
        return " with another size than the job's";
    case Failure::Stale:
        return " with another file than the other mirrors";
    default:
        return nullptr;
    }
}

} // namespace

Job::Job(JobServices services, ControlConnection* client, JobSettings settings, std::vector<FileOrder> files)
    : m_services(services), m_client(client), m_settings(std::move(settings)),
      m_budget(StricterRate(m_settings.fullSpeed ? 0 : kLimitedRate, m_settings.rateLimit), Clock::now(),
               kLimitedBuffer),
      m_transfers({services.multi, services.network}, m_budget, m_files, *this),
      m_maxConnections(m_settings.fullSpeed ? kMaxConnections : 1)
{
    for (FileOrder& order : files) {
        m_files.push_back(std::make_unique<FileTask>(std::move(order)));
        m_progress.push_back(m_files.back().get());
    }
}

Job::~Job()
{
    for (auto& file : m_files) {
        DropSegments(*file);
    }
}

void Job::Send(const std::vector<std::uint8_t>& frame)
{
    if (m_client) {
        m_client->Queue(frame);
    }
}

void Job::SubmitTask(FlushTask task)
{
    ++m_flushing;
    m_services.flusher.Submit(std::move(task));
}

void Job::SetFileOption(std::uint8_t value)
{
    m_fileOption = value;
    Log("job %u/%u: file option %u", JobNumber(), EngineJobId(), value);
}

void Job::SetEngineFlag()
{
    m_settings.engineFlag = true;
    Log("job %u/%u: engine flag", JobNumber(), EngineJobId());
}

// --- Start and the resume question -------------------------------------------

void Job::Begin(Clock::time_point now)
{
    std::uint64_t total = 0;
    for (const auto& file : m_files) {
        total += static_cast<std::uint64_t>(std::max<std::int64_t>(file->declaredSize, 0));
    }
    const nwCDNJobAccepted accepted{JobNumber(), EngineJobId(), static_cast<std::uint32_t>(m_files.size()), total};
    std::vector<std::uint8_t> frame;
    nwCDNAppendFrame(frame, CDN_NOTE_JOB_ACCEPTED, &accepted, sizeof accepted);
    Send(frame);
    Log("job %u/%u accepted: %zu files, %s, service \"%s\", region \"%s\"%s", JobNumber(), EngineJobId(),
        m_files.size(), m_settings.fullSpeed ? "full speed" : "limited", m_settings.serviceId.c_str(),
        m_settings.region.c_str(), m_settings.engineFlag ? ", engine flag" : "");
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i]->FindPartial()) {
            m_partials.push_back(i);
        }
    }
    AskNext(now);
}

void Job::AskNext(Clock::time_point now)
{
    while (m_asked < m_partials.size()) {
        if (!m_answerForAll) {
            const nwCDNAskResume ask{JobNumber()};
            std::vector<std::uint8_t> frame;
            nwCDNAppendFrame(frame, CDN_NOTE_ASK_RESUME, &ask, sizeof ask);
            Send(frame);
            Log("job %u/%u: partial file %s, asking", JobNumber(), EngineJobId(),
                m_files[m_partials[m_asked]]->Order().localPath.c_str());
            return;
        }
        OnResumeAnswer(m_resumeAll, true, now);
    }
    StartRunning(now);
}

void Job::OnResumeAnswer(bool resume, bool applyToAll, Clock::time_point now)
{
    if (m_state != State::Asking || m_asked >= m_partials.size()) {
        return;
    }
    FileTask& file = *m_files[m_partials[m_asked++]];
    std::optional<SavedState> saved = file.FindPartial();
    if (resume && saved) {
        file.Resume(*saved);
        // Every mirror is taken to hold what the saved bytes came from: one
        // that answers otherwise starts the file over.
        for (MirrorState& mirror : file.mirrors) {
            mirror.size = saved->size;
            mirror.validator = saved->validator;
        }
        Log("job %u/%u: resuming %s with %lld of %lld bytes", JobNumber(), EngineJobId(),
            file.Order().localPath.c_str(), static_cast<long long>(saved->done.Total()),
            static_cast<long long>(saved->size));
    } else {
        file.DiscardPartial();
        Log("job %u/%u: starting %s over", JobNumber(), EngineJobId(), file.Order().localPath.c_str());
    }
    if (applyToAll) {
        m_answerForAll = true;
        m_resumeAll = resume;
    }
    AskNext(now);
}

void Job::StartRunning(Clock::time_point now)
{
    m_state = State::Running;
    m_transferring = true;
    m_started = now;
    m_lastReport = now;
    for (auto& file : m_files) {
        FinishIfComplete(*file);
    }
    Service(now);
}

// --- Transfers -----------------------------------------------------------------

int Job::SegmentCount() const
{
    int count = 0;
    for (const auto& file : m_files) {
        count += static_cast<int>(file->segments.size());
    }
    return count;
}

void Job::OnSegmentComplete(Segment& segment, Clock::time_point)
{
    FileTask& file = FileOf(segment);
    file.mirrors[segment.mirror].failures = 0;
    std::erase_if(file.segments, [&](const std::unique_ptr<Segment>& s) { return s.get() == &segment; });
    FinishIfComplete(file);
}

void Job::OnSegmentFailed(Segment& segment, const FailureReport& report, Clock::time_point now)
{
    Act(segment, report, now);
}

// Carries out what the failure policy decides for a failed try.
void Job::Act(Segment& segment, const FailureReport& report, Clock::time_point now)
{
    FileTask& file = FileOf(segment);
    const std::string url = file.mirrors[segment.mirror].url;
    if (report.failure == Failure::Unanswered) {
        m_services.network.NoteUnanswered();
    }
    const FailureAction action =
        DecideFailure(report, file, segment, {now, m_services.network.IsLost(), m_services.network.LastByte()});
    if (const char* death = DeathOf(report.failure)) {
        Log("job %u/%u: %s answered %ld%s: left for %s", JobNumber(), EngineJobId(), url.c_str(), report.status, death,
            file.Order().localPath.c_str());
    }
    switch (action.kind) {
    case FailureAction::Kind::Retry:
        segment.retryAt = action.retryAt;
        return;
    case FailureAction::Kind::RestartFile:
        Log("job %u/%u: %s changed on the server, starting it over", JobNumber(), EngineJobId(), url.c_str());
        DropSegments(file);
        file.Restart();
        return;
    case FailureAction::Kind::FetchWhole:
        Log("job %u/%u: no mirror of %s serves ranges: fetching it whole", JobNumber(), EngineJobId(),
            file.Order().localPath.c_str());
        DropSegments(file);
        return;
    case FailureAction::Kind::FailJob:
        m_failedFile = file.index;
        Fail(action.text, {action.code, file.index, action.value});
        return;
    case FailureAction::Kind::GiveUp:
        Log("job %u/%u: every mirror of %s failed, giving up", JobNumber(), EngineJobId(),
            file.Order().localPath.c_str());
        m_failedFile = file.index;
        End(CDN_RESULT_GAVE_UP);
        return;
    case FailureAction::Kind::DiskFull:
        EnterDiskFull(action.value);
        return;
    case FailureAction::Kind::LocalError:
        FailLocal(file, static_cast<int>(action.value));
        return;
    }
}

void Job::FinishIfComplete(FileTask& file)
{
    if (file.state == FileTask::State::Finishing || file.state == FileTask::State::Done || !file.SizeKnown() ||
        !file.segments.empty() || !file.done.Covers(file.size)) {
        return;
    }
    int error = 0;
    if (!file.OpenPart(&error)) {
        FailLocal(file, error);
        return;
    }
    file.state = FileTask::State::Finishing;
    SubmitTask(file.FinishTask(Token(EngineJobId(), file.Order().index)));
}

void Job::OnFlushResult(const FlushResult& result)
{
    const auto index = static_cast<std::uint32_t>(result.token);
    if (index >= m_files.size()) {
        return;
    }
    --m_flushing;
    FileTask& file = *m_files[index];
    if (result.kind == FlushTask::SaveState) {
        file.saveInFlight = false;
        if (result.error) {
            Log("job %u/%u: state of %s not saved: %s", JobNumber(), EngineJobId(), file.Order().localPath.c_str(),
                std::strerror(result.error));
        }
        return;
    }
    if (result.kind != FlushTask::Finish || m_state == State::Ended) {
        return;
    }
    if (result.error) {
        FailLocal(file, result.error);
        return;
    }
    file.state = FileTask::State::Done;
    ++m_filesCompleted;
    std::vector<std::uint8_t> frame;
    nwCDNAppendFileDone(
        frame, {JobNumber(), EngineJobId(), file.Order().index, file.Order().localPath, file.Order().urlEntry, {}});
    Send(frame);
    Log("job %u/%u: %s complete (%lld bytes)", JobNumber(), EngineJobId(), file.Order().localPath.c_str(),
        static_cast<long long>(file.size));
    if (m_filesCompleted == m_files.size()) {
        End(CDN_RESULT_OK);
    }
}

// --- Ends ----------------------------------------------------------------------

void Job::SaveStates(bool all)
{
    for (auto& file : m_files) {
        if (!file->HasPart() || !file->stateDirty || file->state == FileTask::State::Finishing ||
            file->state == FileTask::State::Done || (!all && file->saveInFlight)) {
            continue;
        }
        file->stateDirty = false;
        file->saveInFlight = true;
        SubmitTask(file->SaveTask(Token(EngineJobId(), file->Order().index)));
    }
}

void Job::End(std::uint32_t result)
{
    if (m_state == State::Ended) {
        return;
    }
    for (auto& file : m_files) {
        DropSegments(*file);
        // Nothing worth resuming: no part file is left behind.
        if (file->HasPart() && file->state != FileTask::State::Finishing && file->state != FileTask::State::Done &&
            file->done.Total() == 0) {
            SubmitTask(file->DiscardTask(Token(EngineJobId(), file->Order().index)));
        }
    }
    SaveStates(true);
    // The final figures come right before the end, so that a client shows
    // what the job ends with rather than its last second.
    SendProgress(Clock::now());
    m_state = State::Ended;
    const nwCDNJobEnded ended{JobNumber(), EngineJobId(), m_filesCompleted, result,
                              static_cast<std::uint32_t>(m_files.size())};
    std::vector<std::uint8_t> frame;
    nwCDNAppendFrame(frame, CDN_NOTE_JOB_ENDED, &ended, sizeof ended);
    Send(frame);
    Log("job %u/%u ended: result %u, %u of %zu files", JobNumber(), EngineJobId(), result, m_filesCompleted,
        m_files.size());
}

void Job::Stop(std::uint32_t result)
{
    End(result);
}

void Job::Fail(const std::string& text, const nwCDNTail& tail)
{
    if (m_state == State::Ended) {
        return;
    }
    std::vector<std::uint8_t> frame;
    nwCDNAppendJobFailed(frame, JobNumber(), EngineJobId(), text, tail);
    Send(frame);
    Log("job %u/%u failed: %s", JobNumber(), EngineJobId(), text.c_str());
    End(tail.code == CDN_CODE_SYSTEM_ERROR ? CDN_RESULT_LOCAL_ERROR : CDN_RESULT_FAILED);
}

void Job::FailLocal(const FileTask& file, int error)
{
    if (IsDiskFull(error)) {
        EnterDiskFull(static_cast<std::uint64_t>(std::max<std::int64_t>(file.size - file.done.Total(), 0)));
        return;
    }
    m_failedFile = file.index;
    Fail("cannot write " + file.Order().localPath + ": " + std::strerror(error),
         {CDN_CODE_SYSTEM_ERROR, file.Order().index, static_cast<std::uint64_t>(error)});
}

void Job::EnterDiskFull(std::uint64_t spaceNeeded)
{
    if (m_state != State::Running) {
        return;
    }
    for (auto& file : m_files) {
        DropSegments(*file);
    }
    SaveStates(true);
    m_state = State::DiskFull;
    std::vector<std::uint8_t> frame;
    nwCDNAppendNotice(frame, JobNumber(), EngineJobId(), CDN_NOTICE_DISK_FULL, "the disk is full",
                      {CDN_CODE_DISK_FULL, CDN_NO_FILE, spaceNeeded});
    Send(frame);
    Log("job %u/%u: disk full, waiting", JobNumber(), EngineJobId());
}

// --- The loop's calls ----------------------------------------------------------

void Job::Service(Clock::time_point now)
{
    if (m_state != State::Running) {
        return;
    }
    int error = 0;
    for (auto& file : m_files) {
        // An answer that brings the whole file replaces the other segments.
        const bool whole = std::any_of(file->segments.begin(), file->segments.end(),
                                       [](const std::unique_ptr<Segment>& segment) { return segment->whole; });
        if (whole && file->segments.size() > 1) {
            std::erase_if(file->segments, [&](std::unique_ptr<Segment>& segment) {
                if (segment->whole) {
                    return false;
                }
                m_transfers.Stop(*segment);
                return true;
            });
        }
        for (auto& segment : file->segments) {
            if (!segment->transferring && segment->retryAt <= now && !m_transfers.Start(*segment, now, &error)) {
                FailLocal(*file, error);
                return;
            }
        }
        FinishIfComplete(*file);
        if (m_state != State::Running) {
            return;
        }
    }
    for (Segment* segment : PlanSegments(m_progress, m_maxConnections - SegmentCount(), now)) {
        if (!m_transfers.Start(*segment, now, &error)) {
            FailLocal(FileOf(*segment), error);
            return;
        }
    }
}

void Job::OnTick(Clock::time_point now)
{
    if (m_state != State::Running) {
        return;
    }
    // A transfer that brought nothing for a while gives its range back: it
    // is retried, and a free connection may split it.
    for (Segment* segment : StalledSegments(m_progress, now)) {
        Log("job %u/%u: transfer of %s at %lld stalled", JobNumber(), EngineJobId(),
            FileOf(*segment).Order().localPath.c_str(), static_cast<long long>(segment->pos));
        m_transfers.Stop(*segment);
        Act(*segment, {Failure::Transient, 0, -1, 0, segment->progressed}, now);
        if (m_state != State::Running) {
            return;
        }
    }
    if (m_services.network.IsLost() && m_services.network.SecondsSinceByte(now) >= kNetworkGiveUpSeconds) {
        Log("job %u/%u: no network for %.0f s, giving up", JobNumber(), EngineJobId(), kNetworkGiveUpSeconds);
        End(CDN_RESULT_GAVE_UP);
        return;
    }
    SaveStates(false);
    // The first report waits for the job's first second: its elapsed time
    // and speed are real figures then.
    if (now - m_started >= kReportInterval) {
        SendProgress(now);
    }
    Service(now);
}

void Job::SendProgress(Clock::time_point now)
{
    // The final report of a job that just reported keeps that speed.
    if (!m_reported || now - m_lastReport >= kReportInterval) {
        m_speed = TakeSpeeds(m_progress, std::chrono::duration<double>(now - m_lastReport).count());
        m_lastReport = now;
    }
    m_reported = true;
    JobFigures figures;
    figures.jobNumber = JobNumber();
    figures.engineJobId = EngineJobId();
    figures.filesCompleted = m_filesCompleted;
    figures.elapsedSeconds =
        m_transferring ? static_cast<std::uint64_t>(std::chrono::duration<double>(now - m_started).count()) : 0;
    figures.speed = m_transferring ? m_speed : 0;
    figures.limited = m_budget.IsLimited();
    figures.networkLost = m_services.network.IsLost();
    figures.failedFile = m_failedFile;
    std::vector<std::uint8_t> frame;
    AppendProgress(frame, figures, m_progress);
    Send(frame);
}

void Job::Refill(Clock::time_point now)
{
    if (m_budget.IsLimited()) {
        m_budget.Refill(now);
        m_transfers.Wake();
    }
}

bool Job::HasPausedTransfers() const
{
    return std::any_of(m_progress.begin(), m_progress.end(), [](const FileProgress* file) {
        return std::any_of(file->segments.begin(), file->segments.end(),
                           [](const std::unique_ptr<Segment>& segment) { return segment->paused; });
    });
}

Clock::time_point Job::NextRetry() const
{
    Clock::time_point next = Clock::time_point::max();
    for (const auto& file : m_files) {
        for (const auto& segment : file->segments) {
            if (!segment->transferring) {
                next = std::min(next, segment->retryAt);
            }
        }
    }
    return next;
}

} // namespace engine

#include "Job.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "EngineLog.h"

namespace engine {

namespace {

constexpr std::int64_t kFirstPiece = 1024 * 1024;     // first request of a file of unknown size
constexpr std::int64_t kMinSegment = 4 * 1024 * 1024; // a gap is cut into pieces no smaller
constexpr std::int64_t kMinSplit = 1024 * 1024;       // both parts of a split keep at least this
constexpr double kStallSeconds = 5.0;
constexpr int kAttemptsPerMirror = 3;
constexpr int kMaxRestarts = 3;
constexpr double kNetworkGiveUpSeconds = 120.0;
constexpr long kFullBuffer = 512 * 1024;
constexpr long kLimitedBuffer = 16 * 1024;
constexpr std::size_t kMaxProgressItems = 8;

bool IsPermanentStatus(long status)
{
    return status == 401 || status == 403 || status == 404 || status == 410;
}

// A failure without an answer: the host could not be reached or said nothing.
bool IsUnanswered(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_GOT_NOTHING:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return true;
    default:
        return false;
    }
}

// "bytes <first>-<last>/<total>"; total -1 for "*".
bool ParseContentRange(const std::string& text, std::int64_t* first, std::int64_t* last, std::int64_t* total)
{
    if (text.rfind("bytes ", 0) != 0) {
        return false;
    }
    const char* p = text.data() + 6;
    const char* end = text.data() + text.size();
    auto number = [&](std::int64_t* value) {
        const auto [next, error] = std::from_chars(p, end, *value);
        p = next;
        return error == std::errc() && *value >= 0;
    };
    if (!number(first) || p == end || *p++ != '-' || !number(last) || p == end || *p++ != '/') {
        return false;
    }
    if (end - p == 1 && *p == '*') {
        *total = -1;
        return *last >= *first;
    }
    return number(total) && p == end && *last >= *first && *last < *total;
}

// A validator usable in If-Range: a strong ETag, else a date.
std::string ValidatorOf(const ResponseHead& head)
{
    if (!head.etag.empty() && head.etag.rfind("W/", 0) != 0) {
        return head.etag;
    }
    return head.lastModified;
}

bool IsDiskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

} // namespace

Job::Job(JobServices services, ControlConnection* client, JobSettings settings, std::vector<FileOrder> files)
    : m_services(services), m_client(client), m_settings(std::move(settings)),
      m_budget(StricterRate(m_settings.fullSpeed ? 0 : kLimitedRate, m_settings.rateLimit), Clock::now(),
               kLimitedBuffer),
      m_maxConnections(m_settings.fullSpeed ? kMaxConnections : 1)
{
    for (FileOrder& order : files) {
        m_files.push_back(std::make_unique<FileTask>(std::move(order)));
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
        total += static_cast<std::uint64_t>(std::max<std::int64_t>(file->Order().declaredSize, 0));
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
    m_started = now;
    m_lastTick = now;
    for (auto& file : m_files) {
        FinishIfComplete(*file);
    }
    Service(now);
}

// --- Planning ------------------------------------------------------------------

int Job::SegmentCount() const
{
    int count = 0;
    for (const auto& file : m_files) {
        count += static_cast<int>(file->segments.size());
    }
    return count;
}

std::size_t Job::ChooseMirror(FileTask& file)
{
    // Round robin over the mirrors that work; the least failed one when none does.
    const std::size_t count = file.mirrors.size();
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t candidate = (file.nextMirror + step) % count;
        const Mirror& mirror = file.mirrors[candidate];
        if (!mirror.dead && !mirror.noRanges && mirror.failures < kAttemptsPerMirror) {
            file.nextMirror = candidate + 1;
            return candidate;
        }
    }
    std::size_t best = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Mirror& a = file.mirrors[i];
        const Mirror& b = file.mirrors[best];
        if ((b.dead && !a.dead) || (a.dead == b.dead && a.failures < b.failures)) {
            best = i;
        }
    }
    return best;
}

Segment& Job::AddSegment(FileTask& file, std::int64_t begin, std::int64_t end)
{
    auto segment = std::make_unique<Segment>();
    segment->file = &file;
    segment->pos = begin;
    segment->end = end;
    segment->mirror = ChooseMirror(file);
    file.segments.push_back(std::move(segment));
    file.state = FileTask::State::Active;
    return *file.segments.back();
}

void Job::StartSegment(Segment& segment, Clock::time_point now)
{
    FileTask& file = *segment.file;
    int error = 0;
    if (!file.OpenPart(&error)) {
        m_localErrorFile = &file;
        m_localError = error;
        return;
    }
    if (!file.rangesSupported) {
        // Only a whole answer from the first byte can be taken.
        file.done.Clear();
        segment.pos = 0;
    }
    Mirror& mirror = file.mirrors[segment.mirror];
    TransferRequest request;
    request.url = mirror.pinned.empty() ? mirror.url : mirror.pinned;
    request.first = segment.pos;
    request.last = segment.end == kOpenEnd ? -1 : segment.end - 1;
    request.ifRange = file.validator;
    request.bufferSize = m_budget.IsLimited() ? kLimitedBuffer : kFullBuffer;
    segment.failure = Segment::Failure::None;
    segment.certificateRefused = false;
    segment.whole = false;
    segment.progressed = false;
    segment.status = 0;
    segment.lastByte = now;
    segment.started = now;
    segment.intervalBytes = 0;
    auto transfer = std::make_unique<Transfer>(*this, &segment);
    if (!transfer->Setup(request) || !m_services.multi.Add(*transfer)) {
        segment.failure = Segment::Failure::Transient;
        segment.retryAt = now + std::chrono::seconds(1);
        return;
    }
    segment.transfer = std::move(transfer);
}

bool Job::AssignGaps(FileTask& file, int* slots, Clock::time_point now)
{
    if (file.state == FileTask::State::Finishing || file.state == FileTask::State::Done) {
        return false;
    }
    if (!file.SizeKnown() || !file.rangesSupported) {
        // One request until the size is known (or for a server without ranges).
        if (!file.segments.empty()) {
            return false;
        }
        const std::int64_t end = file.rangesSupported ? kFirstPiece : kOpenEnd;
        StartSegment(AddSegment(file, 0, end), now);
        --*slots;
        return true;
    }
    // The bytes neither on disk nor on their way.
    RangeSet covered = file.done;
    for (const auto& segment : file.segments) {
        covered.Add(segment->pos, std::min(segment->end, file.size));
    }
    bool added = false;
    for (const ByteRange& gap : covered.Gaps(file.size)) {
        if (*slots <= 0) {
            break;
        }
        const std::int64_t pieces = std::clamp<std::int64_t>(gap.Size() / kMinSegment, 1, *slots);
        const std::int64_t piece = (gap.Size() + pieces - 1) / pieces;
        for (std::int64_t begin = gap.begin; begin<gap.end&& * slots> 0; begin += piece) {
            StartSegment(AddSegment(file, begin, std::min(gap.end, begin + piece)), now);
            --*slots;
            added = true;
        }
    }
    return added;
}

bool Job::Split(Clock::time_point now)
{
    // The segment that would end last: no transfer, or the most remaining time.
    Segment* worst = nullptr;
    double worstTime = 0;
    std::uint64_t speedSum = 0;
    int moving = 0;
    for (const auto& file : m_files) {
        for (const auto& segment : file->segments) {
            if (segment->transfer && segment->speed > 0) {
                speedSum += segment->speed;
                ++moving;
            }
        }
    }
    const double average = moving ? static_cast<double>(speedSum) / moving : 0.0;
    for (const auto& file : m_files) {
        if (!file->SizeKnown() || !file->rangesSupported) {
            continue;
        }
        for (const auto& segment : file->segments) {
            const std::int64_t remaining = segment->Remaining();
            // A transfer younger than a second has not shown its speed yet.
            if (remaining < 2 * kMinSplit || (segment->transfer && now - segment->started < std::chrono::seconds(1))) {
                continue;
            }
            const double speed = segment->transfer ? static_cast<double>(segment->speed) : 0.0;
            // A transfer that has not shown its speed yet is taken as average.
            const double assumed = speed > 0 ? speed : (segment->transfer ? average : 0.0);
            const double time = assumed > 0 ? static_cast<double>(remaining) / assumed : 1e18;
            if (time > worstTime) {
                worstTime = time;
                worst = segment.get();
            }
        }
    }
    // Not worth a new connection when it would end within two seconds.
    if (!worst || worstTime < 2.0) {
        return false;
    }
    // Cut where both would end together: the new part gets the share of an
    // average connection.
    const std::int64_t remaining = worst->Remaining();
    const double own = worst->transfer ? static_cast<double>(worst->speed) : 0.0;
    const double share = own + average > 0 ? own / (own + average) : 0.5;
    std::int64_t cut = worst->pos + static_cast<std::int64_t>(static_cast<double>(remaining) * share);
    cut = std::clamp(cut, worst->pos + kMinSplit, worst->end - kMinSplit);
    const std::int64_t end = worst->end;
    worst->end = cut;
    FileTask& file = *worst->file;
    Segment& added = AddSegment(file, cut, end);
    // The new part goes to another mirror when the file has one that works.
    if (file.mirrors.size() > 1 && added.mirror == worst->mirror) {
        added.mirror = ChooseMirror(file);
    }
    StartSegment(added, now);
    return true;
}

void Job::Schedule(Clock::time_point now)
{
    if (m_state != State::Running) {
        return;
    }
    int slots = m_maxConnections - SegmentCount();
    for (auto& file : m_files) {
        if (slots <= 0) {
            return;
        }
        AssignGaps(*file, &slots, now);
    }
    while (slots > 0 && Split(now)) {
        --slots;
    }
}

// --- Transfers -----------------------------------------------------------------

void Job::StopTransfer(Segment& segment)
{
    if (segment.transfer) {
        m_services.multi.Remove(*segment.transfer);
        segment.transfer.reset();
    }
}

void Job::RemoveSegment(Segment& segment)
{
    StopTransfer(segment);
    auto& list = segment.file->segments;
    std::erase_if(list, [&](const std::unique_ptr<Segment>& s) { return s.get() == &segment; });
}

void Job::DropSegments(FileTask& file)
{
    for (auto& segment : file.segments) {
        StopTransfer(*segment);
    }
    file.segments.clear();
}

bool Job::OnResponse(Transfer& transfer, const ResponseHead& head)
{
    auto& segment = *static_cast<Segment*>(transfer.Owner());
    FileTask& file = *segment.file;
    segment.status = head.status;
    if (IsPermanentStatus(head.status)) {
        segment.failure = Segment::Failure::Permanent;
        return false;
    }
    int error = 0;
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = 0;
    if (head.status == 416) {
        // An empty file answers any range with 416 and a total of 0.
        if (segment.pos == 0 && !file.SizeKnown() && head.contentRange == "bytes */0") {
            if (!file.SetSize(0, &error)) {
                segment.failure = Segment::Failure::Local;
                segment.error = error;
                return false;
            }
            segment.end = 0;
            return true;
        }
        segment.failure = Segment::Failure::Transient;
        return false;
    }
    if (head.status == 200) {
        // The range was ignored, or the file changed since its validator.
        if (!transfer.Request().ifRange.empty()) {
            segment.failure = Segment::Failure::Changed;
            return false;
        }
        if (segment.pos != 0) {
            segment.failure = Segment::Failure::NoRanges;
            return false;
        }
        total = head.contentLength;
        if (total >= 0 && file.Order().declaredSize >= 0 && total != file.Order().declaredSize) {
            segment.failure = Segment::Failure::SizeMismatch;
            segment.serverSize = total;
            return false;
        }
        // This answer brings the whole file: the other segments stop.
        file.rangesSupported = false;
        segment.whole = true;
        file.done.Clear();
        if (total >= 0 && !file.SetSize(total, &error)) {
            segment.failure = Segment::Failure::Local;
            segment.error = error;
            return false;
        }
        segment.end = total >= 0 ? total : kOpenEnd;
        return true;
    }
    if (head.status != 206 || !ParseContentRange(head.contentRange, &first, &last, &total) || total < 0 ||
        first != segment.pos) {
        segment.failure = Segment::Failure::Transient;
        return false;
    }
    if (file.Order().declaredSize >= 0 && total != file.Order().declaredSize) {
        segment.failure = Segment::Failure::SizeMismatch;
        segment.serverSize = total;
        return false;
    }
    const std::string validator = ValidatorOf(head);
    if ((file.SizeKnown() && total != file.size) ||
        (!file.validator.empty() && !validator.empty() && validator != file.validator)) {
        segment.failure = Segment::Failure::Changed;
        return false;
    }
    // The first answer sets the size (and reserves it); later ones agree.
    if (!file.SetSize(total, &error)) {
        segment.failure = Segment::Failure::Local;
        segment.error = error;
        return false;
    }
    if (file.validator.empty() && validator.size() <= kMaxValidator &&
        validator.find_first_of("\r\n") == std::string::npos) {
        file.validator = validator;
    }
    // The answer must end where the request asked (a split may since have
    // moved the segment's end closer).
    const std::int64_t asked = transfer.Request().last >= 0 ? std::min(transfer.Request().last + 1, total) : total;
    segment.end = std::min(segment.end, total);
    if (last + 1 != asked) {
        segment.failure = Segment::Failure::Transient;
        return false;
    }
    Mirror& mirror = file.mirrors[segment.mirror];
    if (mirror.pinned.empty()) {
        mirror.pinned = transfer.EffectiveUrl();
    }
    return true;
}

std::size_t Job::OnBody(Transfer& transfer, const char* data, std::size_t size)
{
    auto& segment = *static_cast<Segment*>(transfer.Owner());
    FileTask& file = *segment.file;
    if (!m_budget.HasRoom()) {
        transfer.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    const std::int64_t room = segment.end - segment.pos;
    const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(room, static_cast<std::int64_t>(size)));
    if (take > 0) {
        int error = 0;
        if (!file.WriteAt(data, take, segment.pos, &error)) {
            segment.failure = Segment::Failure::Local;
            segment.error = error;
            return 0;
        }
        file.done.Add(segment.pos, segment.pos + static_cast<std::int64_t>(take));
        segment.progressed = true;
        segment.failing = false;
        segment.pos += static_cast<std::int64_t>(take);
        segment.intervalBytes += take;
        file.intervalBytes += take;
        file.fetched += take;
        m_intervalBytes += take;
        m_budget.Take(take);
        const Clock::time_point now = Clock::now();
        segment.lastByte = now;
        m_services.network.NoteBytes(now);
    }
    // Past the end of a segment that was split: stop here (the connection closes).
    return take;
}

void Job::OnTransferDone(Transfer& transfer, CURLcode code, Clock::time_point now)
{
    auto& segment = *static_cast<Segment*>(transfer.Owner());
    FileTask& file = *segment.file;
    const bool answered = transfer.HeadSeen();
    StopTransfer(segment); // the transfer is gone from here on
    if (code == CURLE_OK && segment.end == kOpenEnd) {
        // A whole answer without a length ends where the server stopped.
        int error = 0;
        if (!file.SetSize(segment.pos, &error)) {
            FailLocal(file, error);
            return;
        }
        segment.end = segment.pos;
    }
    if (segment.pos >= segment.end) {
        file.mirrors[segment.mirror].failures = 0;
        RemoveSegment(segment);
        FinishIfComplete(file);
        return;
    }
    if (code == CURLE_PEER_FAILED_VERIFICATION) {
        // A certificate refused now is refused on every attempt.
        segment.failure = Segment::Failure::Permanent;
        segment.certificateRefused = true;
    }
    if (segment.failure == Segment::Failure::None) {
        segment.failure = IsUnanswered(code) && !answered ? Segment::Failure::Unanswered : Segment::Failure::Transient;
    }
    HandleFailure(segment, now);
}

bool Job::MoveToNextMirror(Segment& segment)
{
    FileTask& file = *segment.file;
    segment.triedMirrors |= 1u << segment.mirror;
    segment.attempts = 0;
    for (std::size_t step = 1; step <= file.mirrors.size(); ++step) {
        const std::size_t candidate = (segment.mirror + step) % file.mirrors.size();
        if (!(segment.triedMirrors & (1u << candidate)) && !file.mirrors[candidate].dead &&
            !file.mirrors[candidate].noRanges) {
            segment.mirror = candidate;
            return true;
        }
    }
    return false;
}

void Job::HandleFailure(Segment& segment, Clock::time_point now)
{
    FileTask& file = *segment.file;
    if (!segment.failing) {
        segment.failing = true;
        segment.failingSince = now;
    }
    Mirror& mirror = file.mirrors[segment.mirror];
    mirror.lastStatus = segment.status;
    mirror.certificateRefused = segment.certificateRefused;
    const std::string& url = mirror.url;
    switch (segment.failure) {
    case Segment::Failure::Local:
        if (IsDiskFull(segment.error)) {
            m_diskFull = true;
            m_spaceNeeded = static_cast<std::uint64_t>(std::max<std::int64_t>(file.size - file.done.Total(), 0));
        } else {
            m_localErrorFile = &file;
            m_localError = segment.error;
        }
        return;
    case Segment::Failure::Changed:
        Log("job %u/%u: %s changed on the server, starting it over", JobNumber(), EngineJobId(), url.c_str());
        if (++file.restarts > kMaxRestarts) {
            Fail("the file keeps changing on the server: " + url, {CDN_CODE_NONE, file.Order().index, 0});
            return;
        }
        DropSegments(file);
        file.Restart();
        file.rangesSupported = true;
        return;
    case Segment::Failure::NoRanges:
        mirror.noRanges = true;
        if (std::all_of(file.mirrors.begin(), file.mirrors.end(),
                        [](const Mirror& m) { return m.dead || m.noRanges; })) {
            // No mirror serves ranges: the file comes whole from the first byte.
            DropSegments(file);
            for (Mirror& m : file.mirrors) {
                m.noRanges = false;
            }
            file.rangesSupported = false;
            file.done.Clear();
            return;
        }
        break;
    case Segment::Failure::Permanent:
    case Segment::Failure::SizeMismatch:
        mirror.dead = true;
        Log("job %u/%u: %s answered %ld%s", JobNumber(), EngineJobId(), url.c_str(), segment.status,
            segment.failure == Segment::Failure::SizeMismatch ? " with another size" : "");
        break;
    case Segment::Failure::Unanswered:
        m_services.network.NoteUnanswered();
        if (m_services.network.IsLost()) {
            // Nothing is reachable: wait without using up the attempts.
            segment.retryAt = now + std::chrono::seconds(2);
            return;
        }
        [[fallthrough]];
    default:
        ++mirror.failures;
        if (segment.progressed) {
            // An attempt that brought bytes counts as a fresh start.
            segment.attempts = 0;
        }
        if (++segment.attempts < kAttemptsPerMirror) {
            segment.retryAt = now + std::chrono::milliseconds(250 << (segment.attempts - 1));
            return;
        }
        Log("job %u/%u: %s failed %d times (status %ld)", JobNumber(), EngineJobId(), url.c_str(), segment.attempts,
            segment.status);
        break;
    }
    if (MoveToNextMirror(segment)) {
        segment.retryAt = now;
        return;
    }
    if (segment.failure == Segment::Failure::Unanswered && m_services.network.LastByte() <= segment.failingSince) {
        // Nothing answered and nothing else arrived since: the network may be
        // gone rather than the mirrors. Go round them again; the network watch
        // tells the client, and a job without network gives up after a while.
        segment.triedMirrors = 0;
        segment.attempts = 0;
        segment.retryAt = now + std::chrono::seconds(1);
        return;
    }
    // Every mirror of the file has failed this segment.
    const bool allDead = std::all_of(file.mirrors.begin(), file.mirrors.end(), [](const Mirror& m) { return m.dead; });
    if (allDead) {
        const Mirror& last = file.mirrors[segment.mirror];
        if (segment.failure == Segment::Failure::SizeMismatch) {
            Fail("the server's size " + std::to_string(segment.serverSize) + " differs from the job's for " + last.url,
                 {CDN_CODE_SIZE_MISMATCH, file.Order().index, static_cast<std::uint64_t>(segment.serverSize)});
        } else if (last.certificateRefused) {
            Fail("the server's certificate was refused for " + last.url, {CDN_CODE_CERTIFICATE, file.Order().index, 0});
        } else {
            Fail("HTTP " + std::to_string(last.lastStatus) + " for " + last.url,
                 {CDN_CODE_HTTP_STATUS, file.Order().index, static_cast<std::uint64_t>(last.lastStatus)});
        }
        return;
    }
    Log("job %u/%u: every mirror of %s failed, giving up", JobNumber(), EngineJobId(), file.Order().localPath.c_str());
    End(CDN_RESULT_GAVE_UP);
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
    m_services.flusher.Submit(file.FinishTask(Token(EngineJobId(), file.Order().index)));
}

void Job::OnFlushResult(const FlushResult& result)
{
    const auto index = static_cast<std::uint32_t>(result.token);
    if (index >= m_files.size()) {
        return;
    }
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
        m_services.flusher.Submit(file->SaveTask(Token(EngineJobId(), file->Order().index)));
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
            m_services.flusher.Submit(file->DiscardTask(Token(EngineJobId(), file->Order().index)));
        }
    }
    SaveStates(true);
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
        m_diskFull = true;
        EnterDiskFull();
        return;
    }
    Fail("cannot write " + file.Order().localPath + ": " + std::strerror(error),
         {CDN_CODE_SYSTEM_ERROR, file.Order().index, static_cast<std::uint64_t>(error)});
}

void Job::EnterDiskFull()
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
                      {CDN_CODE_DISK_FULL, CDN_NO_FILE, m_spaceNeeded});
    Send(frame);
    Log("job %u/%u: disk full, waiting", JobNumber(), EngineJobId());
}

// --- The loop's calls ----------------------------------------------------------

void Job::Service(Clock::time_point now)
{
    if (m_state != State::Running) {
        return;
    }
    if (m_diskFull) {
        EnterDiskFull();
        return;
    }
    if (m_localErrorFile) {
        FailLocal(*m_localErrorFile, m_localError);
        return;
    }
    for (auto& file : m_files) {
        // An answer that brings the whole file replaces the other segments.
        const bool whole = std::any_of(file->segments.begin(), file->segments.end(),
                                       [](const std::unique_ptr<Segment>& segment) { return segment->whole; });
        if (whole && file->segments.size() > 1) {
            std::erase_if(file->segments, [&](std::unique_ptr<Segment>& segment) {
                if (segment->whole) {
                    return false;
                }
                StopTransfer(*segment);
                return true;
            });
        }
        for (auto& segment : file->segments) {
            if (!segment->transfer && segment->retryAt <= now) {
                StartSegment(*segment, now);
            }
        }
        FinishIfComplete(*file);
    }
    if (m_state == State::Running && !m_localErrorFile) {
        Schedule(now);
    }
    if (m_localErrorFile && m_state == State::Running) {
        FailLocal(*m_localErrorFile, m_localError);
    }
}

void Job::OnTick(Clock::time_point now)
{
    if (m_state != State::Running) {
        return;
    }
    const double seconds = std::max(std::chrono::duration<double>(now - m_lastTick).count(), 0.001);
    m_lastTick = now;
    m_speed = static_cast<std::uint32_t>(std::min(static_cast<double>(m_intervalBytes) / seconds, 4.0e9));
    m_intervalBytes = 0;
    for (auto& file : m_files) {
        file->speed = static_cast<std::uint32_t>(std::min(static_cast<double>(file->intervalBytes) / seconds, 4.0e9));
        file->intervalBytes = 0;
        for (auto& segment : file->segments) {
            segment->speed =
                static_cast<std::uint32_t>(std::min(static_cast<double>(segment->intervalBytes) / seconds, 4.0e9));
            segment->intervalBytes = 0;
            // A transfer that brought nothing for a while gives its range back:
            // it is retried, and a free connection may split it.
            if (segment->transfer && !segment->transfer->paused &&
                std::chrono::duration<double>(now - segment->lastByte).count() >= kStallSeconds) {
                Log("job %u/%u: transfer of %s at %lld stalled", JobNumber(), EngineJobId(),
                    file->Order().localPath.c_str(), static_cast<long long>(segment->pos));
                StopTransfer(*segment);
                segment->failure = Segment::Failure::Transient;
                HandleFailure(*segment, now);
                if (m_state != State::Running) {
                    return;
                }
            }
        }
    }
    if (m_services.network.IsLost() && m_services.network.SecondsSinceByte(now) >= kNetworkGiveUpSeconds) {
        Log("job %u/%u: no network for %.0f s, giving up", JobNumber(), EngineJobId(), kNetworkGiveUpSeconds);
        End(CDN_RESULT_GAVE_UP);
        return;
    }
    SaveStates(false);
    SendProgress(now);
    Service(now);
}

void Job::Refill(Clock::time_point now)
{
    if (!m_budget.IsLimited()) {
        return;
    }
    m_budget.Refill(now);
    for (auto& file : m_files) {
        for (auto& segment : file->segments) {
            if (segment->transfer && segment->transfer->paused && m_budget.HasRoom()) {
                segment->transfer->paused = false;
                curl_easy_pause(segment->transfer->Handle(), CURLPAUSE_CONT);
            }
        }
    }
}

bool Job::HasPausedTransfers() const
{
    for (const auto& file : m_files) {
        for (const auto& segment : file->segments) {
            if (segment->transfer && segment->transfer->paused) {
                return true;
            }
        }
    }
    return false;
}

Clock::time_point Job::NextRetry() const
{
    Clock::time_point next = Clock::time_point::max();
    for (const auto& file : m_files) {
        for (const auto& segment : file->segments) {
            if (!segment->transfer) {
                next = std::min(next, segment->retryAt);
            }
        }
    }
    return next;
}

std::uint64_t Job::TotalSize() const
{
    std::uint64_t total = 0;
    for (const auto& file : m_files) {
        total += static_cast<std::uint64_t>(std::max<std::int64_t>(file->size, 0));
    }
    return total;
}

std::uint64_t Job::DoneSize() const
{
    std::uint64_t done = 0;
    for (const auto& file : m_files) {
        done += static_cast<std::uint64_t>(file->DoneBytes());
    }
    return done;
}

void Job::SendProgress(Clock::time_point now)
{
    nwCDNProgressBlock block{};
    block.jobNumber = JobNumber();
    block.engineJobId = EngineJobId();
    block.fileCount = static_cast<std::uint32_t>(m_files.size());
    block.currentFile = block.fileCount;
    block.totalSize = TotalSize();
    block.doneSize = DoneSize();
    block.speed = m_speed;
    block.filesCompleted = m_filesCompleted;
    block.elapsedSeconds = static_cast<std::uint64_t>(std::chrono::duration<double>(now - m_started).count());
    block.connections = static_cast<std::uint16_t>(SegmentCount());
    block.flags = static_cast<std::uint16_t>((m_budget.IsLimited() ? CDN_PROGRESS_LIMITED : 0) |
                                             (m_services.network.IsLost() ? CDN_PROGRESS_NETWORK_LOST : 0));
    std::vector<nwCDNProgressEntry> entries;
    for (const auto& file : m_files) {
        const bool current = block.currentFile == block.fileCount && file->state != FileTask::State::Done;
        if (!current && file->segments.empty()) {
            continue;
        }
        if (current) {
            block.currentFile = file->Order().index;
        }
        nwCDNProgressEntry entry{};
        entry.item.fileIndex = file->Order().index;
        entry.item.size = static_cast<std::uint64_t>(std::max<std::int64_t>(file->size, 0));
        entry.item.done = static_cast<std::uint64_t>(file->DoneBytes());
        entry.item.speed = file->speed;
        entry.item.connections = static_cast<std::uint16_t>(file->segments.size());
        entry.item.state = file->segments.empty() ? CDN_FILE_PENDING : CDN_FILE_ACTIVE;
        entry.item.flags = file->SizeKnown() ? CDN_ITEM_SIZE_KNOWN : 0;
        entry.name = file->Order().displayName;
        entries.push_back(entry);
        if (entries.size() == kMaxProgressItems) {
            break;
        }
    }
    if (block.currentFile == block.fileCount) {
        block.currentFile = block.fileCount ? block.fileCount - 1 : 0;
    }
    std::vector<std::uint8_t> frame;
    nwCDNAppendProgress(frame, block, entries);
    Send(frame);
}

} // namespace engine

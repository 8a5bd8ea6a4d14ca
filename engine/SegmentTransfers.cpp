#include "SegmentTransfers.h"

#include <algorithm>

#include "AnswerJudge.h"

namespace engine {

namespace {

constexpr long kFullBuffer = 512 * 1024;

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

Segment& SegmentOf(const Transfer& transfer)
{
    return *static_cast<Segment*>(transfer.Owner());
}

} // namespace

SegmentTransfers::SegmentTransfers(TransferServices services, RateBudget& budget,
                                   std::vector<std::unique_ptr<FileTask>>& files, SegmentListener& listener)
    : m_services(services), m_budget(budget), m_files(files), m_listener(listener)
{}

SegmentTransfers::~SegmentTransfers()
{
    for (const auto& transfer : m_transfers) {
        m_services.multi.Remove(*transfer);
    }
}

bool SegmentTransfers::Start(Segment& segment, Clock::time_point now, int* error)
{
    FileTask& file = FileOf(segment);
    if (!file.OpenPart(error)) {
        return false;
    }
    if (!file.rangesSupported) {
        // Only a whole answer from the first byte can be taken.
        file.done.Clear();
        segment.pos = 0;
    }
    const MirrorState& mirror = file.mirrors[segment.mirror];
    TransferRequest request;
    request.url = mirror.pinned.empty() ? mirror.url : mirror.pinned;
    request.first = segment.pos;
    request.last = segment.end == kOpenEnd ? -1 : segment.end - 1;
    request.ifRange = mirror.noIfRange ? std::string() : mirror.validator;
    request.bufferSize = m_budget.IsLimited() ? kLimitedBuffer : kFullBuffer;
    segment.stopped.reset();
    segment.whole = false;
    segment.progressed = false;
    segment.paused = false;
    segment.lastByte = now;
    segment.started = now;
    segment.intervalBytes = 0;
    auto transfer = std::make_unique<Transfer>(*this, &segment);
    if (!transfer->Setup(request) || !m_services.multi.Add(*transfer)) {
        segment.retryAt = now + std::chrono::seconds(1);
        return true;
    }
    segment.transferring = true;
    m_transfers.push_back(std::move(transfer));
    return true;
}

void SegmentTransfers::Stop(Segment& segment)
{
    segment.transferring = false;
    segment.paused = false;
    std::erase_if(m_transfers, [&](const std::unique_ptr<Transfer>& transfer) {
        if (transfer->Owner() != &segment) {
            return false;
        }
        m_services.multi.Remove(*transfer);
        return true;
    });
}

void SegmentTransfers::Drop(FileTask& file)
{
    for (auto& segment : file.segments) {
        Stop(*segment);
    }
    file.segments.clear();
}

void SegmentTransfers::Wake()
{
    for (const auto& transfer : m_transfers) {
        Segment& segment = SegmentOf(*transfer);
        if (segment.paused && m_budget.HasRoom()) {
            segment.paused = false;
            curl_easy_pause(transfer->Handle(), CURLPAUSE_CONT);
        }
    }
}

bool SegmentTransfers::OnResponse(Transfer& transfer, const ResponseHead& head)
{
    Segment& segment = SegmentOf(transfer);
    FileTask& file = FileOf(segment);
    MirrorState& mirror = file.mirrors[segment.mirror];
    const TransferRequest& request = transfer.Request();
    const Verdict verdict = JudgeAnswer({request.first, request.last, !request.ifRange.empty(), file.declaredSize,
                                         file.size, mirror.size, mirror.validator},
                                        head);
    if (verdict.kind == Verdict::Kind::Refused) {
        segment.stopped = FailureReport{verdict.failure, head.status, verdict.size, 0, false};
        return false;
    }
    int error = 0;
    if (verdict.size >= 0 && !file.SetSize(verdict.size, &error)) {
        segment.stopped = FailureReport{Failure::Local, head.status, -1, error, false};
        return false;
    }
    if (verdict.kind == Verdict::Kind::Whole) {
        // This answer brings the whole file: the other segments stop.
        file.rangesSupported = false;
        file.done.Clear();
        segment.whole = true;
        segment.end = verdict.end;
    } else {
        // A split may since have moved the segment's end closer.
        segment.end = std::min(segment.end, verdict.end);
    }
    mirror.size = verdict.size;
    if (mirror.validator.empty()) {
        mirror.validator = verdict.validator;
    }
    if (file.validator.empty()) {
        file.validator = verdict.validator;
    }
    if (mirror.pinned.empty()) {
        mirror.pinned = transfer.EffectiveUrl();
    }
    return true;
}

std::size_t SegmentTransfers::OnBody(Transfer& transfer, const char* data, std::size_t size)
{
    Segment& segment = SegmentOf(transfer);
    FileTask& file = FileOf(segment);
    if (!m_budget.HasRoom()) {
        segment.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    // Past the end of a segment that was split: stop there (the connection closes).
    const std::int64_t room = segment.end - segment.pos;
    const auto take = static_cast<std::size_t>(std::min<std::int64_t>(room, static_cast<std::int64_t>(size)));
    if (take == 0) {
        return 0;
    }
    int error = 0;
    if (!file.WriteAt(data, take, segment.pos, &error)) {
        segment.stopped = FailureReport{Failure::Local, transfer.Head().status, -1, error, true};
        return 0;
    }
    file.done.Add(segment.pos, segment.pos + static_cast<std::int64_t>(take));
    segment.progressed = true;
    segment.failing = false;
    segment.pos += static_cast<std::int64_t>(take);
    segment.intervalBytes += take;
    file.intervalBytes += take;
    file.fetched += take;
    const Clock::time_point now = Clock::now();
    m_budget.Take(take, now);
    segment.lastByte = now;
    m_services.network.NoteBytes(now);
    return take;
}

void SegmentTransfers::OnDone(Transfer& transfer, CURLcode code, Clock::time_point now)
{
    Segment& segment = SegmentOf(transfer);
    FileTask& file = FileOf(segment);
    const bool answered = transfer.HeadSeen();
    const long status = transfer.Head().status;
    Stop(segment); // the transfer is gone from here on
    if (code == CURLE_OK && segment.end == kOpenEnd) {
        // A whole answer without a length ends where the server stopped.
        int error = 0;
        if (!file.SetSize(segment.pos, &error)) {
            m_listener.OnSegmentFailed(segment, {Failure::Local, status, -1, error, segment.progressed}, now);
            return;
        }
        segment.end = segment.pos;
    }
    if (segment.pos >= segment.end) {
        m_listener.OnSegmentComplete(segment, now);
        return;
    }
    FailureReport report;
    if (segment.stopped) {
        report = *segment.stopped;
    } else {
        report.status = status;
        report.failure = code == CURLE_PEER_FAILED_VERIFICATION ? Failure::Certificate
                         : IsUnanswered(code) && !answered      ? Failure::Unanswered
                                                                : Failure::Transient;
    }
    report.progressed = segment.progressed;
    m_listener.OnSegmentFailed(segment, report, now);
}

} // namespace engine

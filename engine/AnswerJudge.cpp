#include "AnswerJudge.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "StateFile.h"

namespace engine {

namespace {

Verdict Refuse(Failure failure, std::int64_t serverSize = -1)
{
    Verdict verdict;
    verdict.kind = Verdict::Kind::Refused;
    verdict.failure = failure;
    verdict.size = serverSize;
    return verdict;
}

bool IsDeadStatus(long status)
{
    return status == 401 || status == 403 || status == 404 || status == 410;
}

// A size from the server checked against the job's and the one learned:
// nothing when it agrees.
std::optional<Verdict> CheckSize(const AnswerContext& context, std::int64_t size)
{
    if (context.declared >= 0 && size != context.declared) {
        return Refuse(Failure::SizeMismatch, size);
    }
    if (context.known >= 0 && size != context.known) {
        // The same mirror said otherwise before: the file changed there.
        // Another mirror said so: this one holds another file.
        return Refuse(context.mirrorSize >= 0 ? Failure::Changed : Failure::Stale, size);
    }
    return std::nullopt;
}

} // namespace

bool ParseContentRange(std::string_view text, std::int64_t* first, std::int64_t* last, std::int64_t* total)
{
    if (text.substr(0, 6) != "bytes ") {
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

std::string ValidatorOf(const ResponseHead& head)
{
    const bool strongTag = !head.etag.empty() && head.etag.rfind("W/", 0) != 0;
    std::string validator = strongTag ? head.etag : head.lastModified;
    if (validator.size() > kMaxValidator || validator.find_first_of("\r\n") != std::string::npos) {
        validator.clear();
    }
    return validator;
}

Verdict JudgeAnswer(const AnswerContext& context, const ResponseHead& head)
{
    if (IsDeadStatus(head.status)) {
        return Refuse(Failure::Permanent);
    }
    if (head.status == 416) {
        // "bytes */<size>": the range lies outside the server's file, whose
        // size may tell another file; an empty file answers any range so.
        std::int64_t size = -1;
        const std::string_view total = std::string_view(head.contentRange).substr(0, 8) == "bytes */"
                                           ? std::string_view(head.contentRange).substr(8)
                                           : std::string_view();
        const auto [end, error] = std::from_chars(total.data(), total.data() + total.size(), size);
        if (total.empty() || error != std::errc() || end != total.data() + total.size() || size < 0) {
            return Refuse(Failure::Transient);
        }
        if (std::optional<Verdict> refused = CheckSize(context, size)) {
            return *refused;
        }
        if (size == 0 && context.first == 0) {
            Verdict verdict;
            verdict.kind = Verdict::Kind::Empty;
            verdict.size = 0;
            return verdict;
        }
        return Refuse(Failure::Transient, size);
    }
    const std::string validator = ValidatorOf(head);
    if (head.status == 200) {
        // The range was ignored, or the file changed since its validator;
        // unless the answer shows the same file: a server that holds its
        // date too fresh to compare (or a weak tag) answers If-Range whole.
        if (context.ifRange) {
            const bool same = !validator.empty() && validator == context.mirrorValidator && head.contentLength >= 0 &&
                              head.contentLength == context.mirrorSize;
            return Refuse(same ? Failure::NoIfRange : Failure::Changed);
        }
        if (context.first != 0) {
            return Refuse(Failure::NoRanges);
        }
        const std::int64_t size = head.contentLength;
        if (size >= 0) {
            if (std::optional<Verdict> refused = CheckSize(context, size)) {
                return *refused;
            }
        }
        Verdict verdict;
        verdict.kind = Verdict::Kind::Whole;
        verdict.size = size;
        verdict.validator = validator;
        // Without a length the known size (if any) says where it ends.
        verdict.end = size >= 0 ? size : (context.known >= 0 ? context.known : kOpenEnd);
        return verdict;
    }
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = 0;
    if (head.status != 206 || !ParseContentRange(head.contentRange, &first, &last, &total) || total < 0 ||
        first != context.first) {
        return Refuse(Failure::Transient);
    }
    if (std::optional<Verdict> refused = CheckSize(context, total)) {
        return *refused;
    }
    if (!context.mirrorValidator.empty() && !validator.empty() && validator != context.mirrorValidator) {
        return Refuse(Failure::Changed, total);
    }
    // The answer must end where the request asked, or at the file's end.
    const std::int64_t asked = context.last >= 0 ? std::min(context.last + 1, total) : total;
    if (last + 1 != asked) {
        return Refuse(Failure::Transient, total);
    }
    Verdict verdict;
    verdict.kind = Verdict::Kind::Range;
    verdict.size = total;
    verdict.validator = validator;
    verdict.end = asked;
    return verdict;
}

} // namespace engine

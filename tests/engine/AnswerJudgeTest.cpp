// The judge of a server's answer, one row per rule: real servers, servers
// that ignore ranges or answer another range, mirrors that hold another
// file, and files that change on the server.

#include <gtest/gtest.h>

#include "AnswerJudge.h"

using namespace engine;

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kBig = 24 * kMiB;

using Kind = Verdict::Kind;

ResponseHead Head(long status, std::string contentRange = {}, std::string etag = {}, std::int64_t length = -1)
{
    ResponseHead head;
    head.status = status;
    head.contentRange = std::move(contentRange);
    head.etag = std::move(etag);
    head.contentLength = length;
    return head;
}

std::string Range(std::int64_t first, std::int64_t last, std::int64_t total)
{
    return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(total);
}

// The first request of a file of unknown size.
AnswerContext FirstPiece()
{
    return {0, kMiB - 1, false, -1, -1, -1, {}};
}

// A later segment [first, last] of a file whose size is known.
AnswerContext Later(std::int64_t first, std::int64_t last, std::int64_t mirrorSize = kBig,
                    std::string_view mirrorValidator = "\"a\"")
{
    return {first, last, !mirrorValidator.empty(), -1, kBig, mirrorSize, mirrorValidator};
}

struct Row {
    const char* what;
    AnswerContext context;
    ResponseHead head;
    Kind kind;
    Failure failure = Failure::Transient; // when refused
    std::int64_t size = -1;
    std::int64_t end = 0; // when not refused
};

} // namespace

TEST(AnswerJudge, EachRuleOfTheTransfers)
{
    ResponseHead dated = Head(206, Range(0, kMiB - 1, kBig), "W/\"weak\"");
    dated.lastModified = "Tue, 01 Oct 2024 10:00:00 GMT";
    ResponseHead lengthless = Head(200);
    const Row rows[] = {
        {"the first piece gives the size", FirstPiece(), Head(206, Range(0, kMiB - 1, kBig), "\"a\""), Kind::Range,
         Failure::Transient, kBig, kMiB},
        {"a file smaller than the first piece", FirstPiece(), Head(206, Range(0, 99, 100)), Kind::Range,
         Failure::Transient, 100, 100},
        {"a later segment on the same mirror", Later(4 * kMiB, 8 * kMiB - 1),
         Head(206, Range(4 * kMiB, 8 * kMiB - 1, kBig), "\"a\""), Kind::Range, Failure::Transient, kBig, 8 * kMiB},
        {"a segment to the end", Later(20 * kMiB, -1), Head(206, Range(20 * kMiB, kBig - 1, kBig), "\"a\""),
         Kind::Range, Failure::Transient, kBig, kBig},
        {"another mirror with a validator of its own", Later(4 * kMiB, 8 * kMiB - 1, -1, {}),
         Head(206, Range(4 * kMiB, 8 * kMiB - 1, kBig), "\"b\""), Kind::Range, Failure::Transient, kBig, 8 * kMiB},
        {"an empty file", FirstPiece(), Head(416, "bytes */0"), Kind::Empty, Failure::Transient, 0, 0},
        // Servers that ignore ranges.
        {"the whole file from the first byte", FirstPiece(), Head(200, {}, "\"a\"", 5000), Kind::Whole,
         Failure::Transient, 5000, 5000},
        {"the whole file without a length", FirstPiece(), lengthless, Kind::Whole, Failure::Transient, -1, kOpenEnd},
        {"without a length, the size learned ends it",
         {0, 4 * kMiB - 1, false, -1, kBig, kBig, {}},
         lengthless,
         Kind::Whole,
         Failure::Transient,
         -1,
         kBig},
        {"the whole file to a later range", Later(4 * kMiB, 8 * kMiB - 1, kBig, {}), Head(200, {}, {}, kBig),
         Kind::Refused, Failure::NoRanges},
        // Servers that answer another range.
        {"another first byte", Later(4 * kMiB, 8 * kMiB - 1), Head(206, Range(0, 4 * kMiB - 1, kBig), "\"a\""),
         Kind::Refused},
        {"ending short of the request", Later(4 * kMiB, 8 * kMiB - 1),
         Head(206, Range(4 * kMiB, 5 * kMiB - 1, kBig), "\"a\""), Kind::Refused, Failure::Transient, kBig},
        {"ending past the request", Later(4 * kMiB, 8 * kMiB - 1), Head(206, Range(4 * kMiB, kBig - 1, kBig), "\"a\""),
         Kind::Refused, Failure::Transient, kBig},
        {"no total", FirstPiece(), Head(206, "bytes 0-99/*"), Kind::Refused},
        {"no Content-Range", FirstPiece(), Head(206), Kind::Refused},
        {"a range past its total", FirstPiece(), Head(206, Range(0, 100, 100)), Kind::Refused},
        {"a range outside the file", FirstPiece(), Head(416, "bytes */100"), Kind::Refused, Failure::Transient, 100},
        {"a range outside a stale mirror's smaller file", Later(20 * kMiB, -1, -1, {}), Head(416, "bytes */65536"),
         Kind::Refused, Failure::Stale, 65536},
        {"a garbled 416", FirstPiece(), Head(416, "bytes */x"), Kind::Refused},
        {"a server error", FirstPiece(), Head(503), Kind::Refused},
        // Answers that do not change on a retry.
        {"401", FirstPiece(), Head(401), Kind::Refused, Failure::Permanent},
        {"403", FirstPiece(), Head(403), Kind::Refused, Failure::Permanent},
        {"404", FirstPiece(), Head(404), Kind::Refused, Failure::Permanent},
        {"410", FirstPiece(), Head(410), Kind::Refused, Failure::Permanent},
        // Sizes.
        {"another size than the job's",
         {0, kMiB - 1, false, kBig, kBig, -1, {}},
         Head(206, Range(0, kMiB - 1, 5 * kMiB)),
         Kind::Refused,
         Failure::SizeMismatch,
         5 * kMiB},
        {"a whole file of another size than the job's",
         {0, kMiB - 1, false, kBig, kBig, -1, {}},
         Head(200, {}, {}, 5 * kMiB),
         Kind::Refused,
         Failure::SizeMismatch,
         5 * kMiB},
        {"an empty file where the job says otherwise",
         {0, kMiB - 1, false, 5, 5, -1, {}},
         Head(416, "bytes */0"),
         Kind::Refused,
         Failure::SizeMismatch,
         0},
        {"a stale mirror: another size than another mirror gave", Later(0, 4 * kMiB - 1, -1, {}),
         Head(206, Range(0, 4 * kMiB - 1, 5 * kMiB), "\"old\""), Kind::Refused, Failure::Stale, 5 * kMiB},
        {"a stale mirror sending the whole file", Later(0, 4 * kMiB - 1, -1, {}), Head(200, {}, {}, 5 * kMiB),
         Kind::Refused, Failure::Stale, 5 * kMiB},
        {"the same mirror with another size", Later(4 * kMiB, 8 * kMiB - 1, kBig, {}),
         Head(206, Range(4 * kMiB, 8 * kMiB - 1, 30 * kMiB)), Kind::Refused, Failure::Changed, 30 * kMiB},
        // Validators.
        {"the same mirror's ETag flips", Later(4 * kMiB, 8 * kMiB - 1),
         Head(206, Range(4 * kMiB, 8 * kMiB - 1, kBig), "\"b\""), Kind::Refused, Failure::Changed, kBig},
        {"the whole file to If-Range: changed", Later(4 * kMiB, 8 * kMiB - 1), Head(200, {}, "\"b\"", kBig),
         Kind::Refused, Failure::Changed},
        {"the whole file to If-Range, same validator: not compared", Later(4 * kMiB, 8 * kMiB - 1),
         Head(200, {}, "\"a\"", kBig), Kind::Refused, Failure::NoIfRange},
        {"the whole file to If-Range, same validator, another size", Later(4 * kMiB, 8 * kMiB - 1),
         Head(200, {}, "\"a\"", kBig + 1), Kind::Refused, Failure::Changed},
        {"an answer without a validator keeps the file", Later(4 * kMiB, 8 * kMiB - 1),
         Head(206, Range(4 * kMiB, 8 * kMiB - 1, kBig)), Kind::Range, Failure::Transient, kBig, 8 * kMiB},
        {"a weak ETag gives way to the date", FirstPiece(), dated, Kind::Range, Failure::Transient, kBig, kMiB},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Verdict verdict = JudgeAnswer(row.context, row.head);
        EXPECT_EQ(verdict.kind, row.kind);
        if (row.kind == Kind::Refused) {
            EXPECT_EQ(verdict.failure, row.failure);
        } else {
            EXPECT_EQ(verdict.end, row.end);
        }
        if (row.size >= 0 || row.kind != Kind::Refused) {
            EXPECT_EQ(verdict.size, row.size);
        }
    }
}

TEST(AnswerJudge, ValidatorsAreStrongTagsOrDatesThatFitTheStateFile)
{
    ResponseHead head;
    head.etag = "\"strong\"";
    head.lastModified = "Tue, 01 Oct 2024 10:00:00 GMT";
    EXPECT_EQ(ValidatorOf(head), "\"strong\"");
    head.etag = "W/\"weak\"";
    EXPECT_EQ(ValidatorOf(head), head.lastModified);
    head.lastModified = "a\r\nInjected: yes";
    EXPECT_EQ(ValidatorOf(head), "");
    head.etag = "\"" + std::string(600, 'x') + "\"";
    EXPECT_EQ(ValidatorOf(head), "");
}

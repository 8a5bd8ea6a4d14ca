#pragma once
// Judges a server's answer to one range request, before its first body
// byte: whether the body can be written where the request asked, and what
// the answer teaches (the file's size, the mirror's validator), or why it is
// refused. It knows only the request, the answer's head and what the engine
// learned before; nothing here touches a transfer or a file.
//
// The rules:
// - 401, 403, 404 and 410 do not change on a retry: the mirror is dead.
// - An answer must be 206 with a Content-Range that starts at the requested
//   byte, ends where the request asked (or at the end of the file) and gives
//   the total; the total is the file's size.
// - A size other than the job's kills the mirror. A size other than the one
//   learned before is a mirror holding another file when this mirror never
//   answered before (it is dropped for the file), and the file changing on
//   the server when this mirror said otherwise earlier.
// - A validator other than the one the same mirror gave before is the file
//   changing on the server; mirrors may well have validators of their own.
// - 200 to a request with If-Range: the file changed, unless the answer
//   carries the mirror's validator and size (the server did not compare: a
//   date it holds too fresh, as Apache does for a file changed within the
//   last second); the mirror is then asked without If-Range, its answers
//   still checked against its validator. 200 to a request from
//   the first byte: the server ignores ranges and sends the whole file. 200
//   to a request from further on: the mirror cannot serve the range.
// - 416 with "bytes */<size>": the size is checked as above; "bytes */0" to
//   the first request of a file is an empty file.

#include <cstdint>
#include <string>
#include <string_view>

#include "FileProgress.h"

namespace engine {

struct ResponseHead {
    long status = 0;
    std::string contentRange;
    std::string etag;
    std::string lastModified;
    std::int64_t contentLength = -1;
    bool location = false;
};

// What the engine asked and knew when the answer came.
struct AnswerContext {
    std::int64_t first = 0;           // first byte asked
    std::int64_t last = -1;           // last byte asked, -1 for "to the end"
    bool ifRange = false;             // the request carried If-Range
    std::int64_t declared = -1;       // the job's size of the file
    std::int64_t known = -1;          // the size learned so far
    std::int64_t mirrorSize = -1;     // the size this mirror answered with before
    std::string_view mirrorValidator; // the validator this mirror gave before
};

struct Verdict {
    enum class Kind {
        Range, // write the body from the first byte asked; `size` is the file's
        Whole, // the whole file from byte 0; `size` -1 when the server gave none
        Empty, // the file is empty
        Refused,
    };
    Kind kind = Kind::Refused;
    Failure failure = Failure::Transient; // when refused
    std::int64_t size = -1;               // the server's size of the file, when it gave one
    std::string validator;                // usable in If-Range; may be empty
    // Range: the end of what the body brings (exclusive); Whole: the file's end
    // or kOpenEnd when unknown.
    std::int64_t end = 0;
};

Verdict JudgeAnswer(const AnswerContext& context, const ResponseHead& head);

// "bytes <first>-<last>/<total>" with total -1 for "*". False when the text
// is not one.
bool ParseContentRange(std::string_view text, std::int64_t* first, std::int64_t* last, std::int64_t* total);

// A validator usable in If-Range: a strong ETag, else the date; empty when
// neither is usable (too long, line breaks).
std::string ValidatorOf(const ResponseHead& head);

} // namespace engine

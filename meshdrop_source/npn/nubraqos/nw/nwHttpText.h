#pragma once
// Small text helpers of the HTTP layer: header lists of (name, value) pairs,
// ASCII case folding for name comparisons, and decimal numbers read without
// overflow.

#include <cstdint>
#include <cstring>
#include <vector>

#include "ov/ovCString.h"

struct nwHttpField {
    ovCString name;
    ovCString value;
};
using nwHttpFieldList = std::vector<nwHttpField>;

// ASCII-only, byte-wise; other bytes compare as they are.
bool nwEqualsNoCase(const char* a, const char* b);
// Whether `text` begins with `prefix`, optionally ignoring ASCII case.
bool nwStartsWith(const char* text, const char* prefix, bool ignoreCase);

// The decimal digits at the very start of `text`, as a number.
// Answers -1 when there is no leading digit, and also when the number would
// exceed `limit`: such a value cannot be trusted, and it must never wrap into
// a small one.
std::int64_t nwParseLeadingDecimal(const char* text, std::uint32_t length, std::int64_t limit);

// Adds (name, value) to the list, replacing the value of the first entry whose
// name begins with `name` (case-sensitive).
void nwSetFieldByPrefix(nwHttpFieldList& list, const char* name, const char* value);

// Whether the text holds a CR or LF (a header made of it would break the head).
bool nwHasLineBreak(const char* text);

// Calls fn(piece, pieceLength) for each piece of `length` bytes of text
// between `separator` bytes (empty pieces included, none after a final
// separator).
template <class Fn>
void nwForEachPiece(const char* text, std::uint32_t length, char separator, Fn fn)
{
    std::uint32_t start = 0;
    while (start < length) {
        const void* found = std::memchr(text + start, separator, length - start);
        const std::uint32_t end = found ? static_cast<std::uint32_t>(static_cast<const char*>(found) - text) : length;
        fn(text + start, end - start);
        start = end + 1;
    }
}

// Calls fn(name, nameLength, value, valueLength) for each "name=value" pair of
// a query ("&"-separated, split at the first "="); pairs without "=" are skipped.
template <class Fn>
void nwForEachQueryPair(const char* query, std::uint32_t length, Fn fn)
{
    nwForEachPiece(query, length, '&', [&](const char* pair, std::uint32_t pairLength) {
        const void* equals = std::memchr(pair, '=', pairLength);
        if (equals) {
            const auto nameLength = static_cast<std::uint32_t>(static_cast<const char*>(equals) - pair);
            fn(pair, nameLength, pair + nameLength + 1, pairLength - nameLength - 1);
        }
    });
}

#pragma once
// A set of byte ranges [begin, end) kept sorted and merged: the bytes of a
// file that are on disk.

#include <cstdint>
#include <vector>

namespace engine {

struct ByteRange {
    std::int64_t begin = 0;
    std::int64_t end = 0; // exclusive
    std::int64_t Size() const { return end - begin; }
    bool operator==(const ByteRange&) const = default;
};

class RangeSet {
public:
    // Adds [begin, end); empty ranges are ignored.
    void Add(std::int64_t begin, std::int64_t end);
    void Clear() { m_ranges.clear(); }
    // Bytes covered.
    std::int64_t Total() const;
    // Whether [0, size) is covered whole.
    bool Covers(std::int64_t size) const;
    // The ranges of [0, size) that are not covered, in order.
    std::vector<ByteRange> Gaps(std::int64_t size) const;
    // The end of the covered run that starts at `position`, or `position`.
    std::int64_t RunEnd(std::int64_t position) const;
    const std::vector<ByteRange>& Ranges() const { return m_ranges; }

private:
    std::vector<ByteRange> m_ranges;
};

} // namespace engine

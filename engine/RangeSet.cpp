#include "RangeSet.h"

#include <algorithm>

namespace engine {

void RangeSet::Add(std::int64_t begin, std::int64_t end)
{
    if (end <= begin) {
        return;
    }
    // The first range that ends at or after `begin` may touch the new one.
    auto first = std::lower_bound(m_ranges.begin(), m_ranges.end(), begin,
                                  [](const ByteRange& r, std::int64_t value) { return r.end < value; });
    auto last = first;
    while (last != m_ranges.end() && last->begin <= end) {
        begin = std::min(begin, last->begin);
        end = std::max(end, last->end);
        ++last;
    }
    if (first == last) {
        m_ranges.insert(first, ByteRange{begin, end});
        return;
    }
    *first = ByteRange{begin, end};
    m_ranges.erase(first + 1, last);
}

std::int64_t RangeSet::Total() const
{
    std::int64_t total = 0;
    for (const ByteRange& r : m_ranges) {
        total += r.Size();
    }
    return total;
}

bool RangeSet::Covers(std::int64_t size) const
{
    if (size <= 0) {
        return true;
    }
    return !m_ranges.empty() && m_ranges.front().begin <= 0 && m_ranges.front().end >= size;
}

std::vector<ByteRange> RangeSet::Gaps(std::int64_t size) const
{
    std::vector<ByteRange> gaps;
    std::int64_t position = 0;
    for (const ByteRange& r : m_ranges) {
        if (r.begin >= size) {
            break;
        }
        if (r.begin > position) {
            gaps.push_back({position, r.begin});
        }
        position = std::max(position, r.end);
    }
    if (position < size) {
        gaps.push_back({position, size});
    }
    return gaps;
}

std::int64_t RangeSet::RunEnd(std::int64_t position) const
{
    for (const ByteRange& r : m_ranges) {
        if (r.begin <= position && position < r.end) {
            return r.end;
        }
    }
    return position;
}

} // namespace engine

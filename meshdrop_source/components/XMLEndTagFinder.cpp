#include "XMLEndTagFinder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Bytes the searches of one document may examine, per byte of the document.
constexpr size_t kBudgetPerByte = 64;
constexpr size_t kBudgetBase = 65536;

} // namespace

CXMLEndTagFinder::CXMLEndTagFinder(std::string_view text)
    : m_text(text), m_budget(kBudgetPerByte * text.size() + kBudgetBase)
{}

void CXMLEndTagFinder::Charge(size_t cost)
{
    m_budget = cost < m_budget ? m_budget - cost : 0;
}

size_t CXMLEndTagFinder::FindChar(char c, size_t from, size_t bound)
{
    if (from >= bound)
        return std::string_view::npos;
    const void* hit = std::memchr(m_text.data() + from, c, bound - from);
    const size_t at = hit ? static_cast<const char*>(hit) - m_text.data() : bound;
    Charge(at - from + 1);
    return hit ? at : std::string_view::npos;
}

size_t CXMLEndTagFinder::FindTagEnd(size_t from, size_t bound)
{
    for (size_t i = from; i < bound; ++i) {
        const char c = m_text[i];
        if (c == '/' || c == '>') {
            Charge(i - from + 1);
            return i;
        }
        if (c == '"') {
            Charge(i - from + 1);
            i = FindChar('"', i + 1, bound);
            if (i == std::string_view::npos)
                return i;
            from = i + 1;
        }
    }
    Charge(bound > from ? bound - from : 0);
    return std::string_view::npos;
}

CXMLEndTagFinder::Cached CXMLEndTagFinder::Lookup(size_t start, size_t bound, size_t& resume) const
{
    const auto it = m_cache.find(start);
    if (it == m_cache.end())
        return Cached::kNone;
    const Entry& entry = it->second;
    if (entry.found) {
        resume = entry.match.resume;
        // A match beyond the bound is no match within it.
        return resume <= bound ? Cached::kJump : Cached::kNotFound;
    }
    // Nothing up to a farther bound means nothing up to this one either.
    return entry.bound >= bound ? Cached::kNotFound : Cached::kNone;
}

std::optional<CXMLEndTagFinder::Match> CXMLEndTagFinder::Find(size_t start, size_t bound)
{
    bound = std::min(bound, m_text.size());
    size_t resume = 0;
    switch (Lookup(start, bound, resume)) {
    case Cached::kJump:
        return m_cache[start].match;
    case Cached::kNotFound:
        return std::nullopt;
    case Cached::kNone:
        break;
    }
    std::vector<size_t> open; // the start tags whose end tag is still to come, outermost first
    auto notFound = [&]() -> std::optional<Match> {
        if (!Exhausted()) {
            for (size_t tag : open)
                m_cache[tag] = Entry{false, {}, bound};
            m_cache[start] = Entry{false, {}, bound};
        }
        return std::nullopt;
    };
    auto found = [&](size_t tag, Match match) { m_cache[tag] = Entry{true, match, 0}; };

    size_t pos = start;
    while (!Exhausted()) {
        const size_t lt = FindChar('<', pos, bound);
        if (lt == std::string_view::npos)
            return notFound();
        const std::string_view rest = m_text.substr(lt, bound - lt);

        if (rest.starts_with("</")) {
            const size_t gt = FindChar('>', lt, bound);
            if (gt == std::string_view::npos || open.empty())
                return notFound();
            const size_t tag = open.back();
            open.pop_back();
            found(tag, Match{lt, gt + 1});
            if (open.empty())
                return m_cache[start].match;
            pos = gt + 1;
            continue;
        }
        if (rest.starts_with("<!--") || rest.starts_with("<?")) {
            const size_t gt = FindChar('>', lt, bound);
            if (gt == std::string_view::npos)
                return notFound();
            pos = gt + 1;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            const size_t close = rest.find("]]>", 9);
            if (close == std::string_view::npos)
                return notFound();
            Charge(close + 3);
            pos = lt + close + 3;
            continue;
        }

        // A start tag or an empty element.
        if (lt != start) {
            const Cached cached = Lookup(lt, bound, resume);
            Charge(1);
            if (cached == Cached::kNotFound)
                return notFound();
            if (cached == Cached::kJump) {
                pos = resume;
                continue;
            }
        }
        const size_t end = FindTagEnd(lt + 1, bound);
        if (end == std::string_view::npos)
            return notFound();
        if (m_text[end] == '>') {
            open.push_back(lt);
            pos = end + 1;
            continue;
        }
        const size_t gt = FindChar('>', end, bound);
        if (gt == std::string_view::npos)
            return notFound();
        found(lt, Match{gt + 1, gt + 1});
        if (open.empty()) // the start tag itself counts as an empty element
            return m_cache[start].match;
        pos = gt + 1;
    }
    return std::nullopt;
}

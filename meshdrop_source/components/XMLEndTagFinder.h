#pragma once
// Finds the end tag that matches a start tag of the XML reader: it walks the
// tags from the start tag on and counts depth, matching end tags by depth
// only. A tag with a "/" outside double quotes counts as an empty element;
// comments, processing instructions and CDATA sections leave the depth alone.
//
// Every start tag met on a walk remembers where its own match lies, so that
// the searches for the nested elements of a document cost nothing more; and
// all searches of one document share a work budget proportional to its
// length, so that no hostile document makes them quadratic.

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>

class CXMLEndTagFinder {
public:
    struct Match {
        size_t endTagBegin; // the "<" of the end tag (for an empty element: resume)
        size_t resume;      // just after the end tag's ">"
    };

    explicit CXMLEndTagFinder(std::string_view text);

    // start: the "<" of a start tag; the search stays before bound.
    std::optional<Match> Find(size_t start, size_t bound);

    // True once the budget ran out; every later search finds nothing.
    bool Exhausted() const { return m_budget == 0; }

private:
    struct Entry {
        bool found;
        Match match;
        size_t bound; // the bound of the search that found nothing
    };
    enum class Cached { kNone, kJump, kNotFound };

    Cached Lookup(size_t start, size_t bound, size_t& resume) const;
    size_t FindChar(char c, size_t from, size_t bound);
    // The first "/" or ">" outside double quotes, or npos.
    size_t FindTagEnd(size_t from, size_t bound);
    void Charge(size_t cost);

    std::string_view m_text;
    size_t m_budget;
    std::unordered_map<size_t, Entry> m_cache;
};

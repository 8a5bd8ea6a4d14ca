#pragma once
// A file's entry in a job names the file's addresses, one or more separated
// by "|": its mirrors, tried in their order. The library and the engine read
// entries by this one rule, so that neither accepts an entry the other
// refuses, and both store a file under the same name.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The longest entry, in bytes.
inline constexpr std::size_t kMaxEntryBytes = 8192;
// Mirrors beyond this many are left out.
inline constexpr std::size_t kMaxEntryMirrors = 16;

// Whether `url` is an http:// or https:// address (the scheme in any case)
// with a host, a port from 1 to 65535 when it gives one, and no control
// character.
bool utIsHttpAddress(std::string_view url);

// The mirrors of an entry, in order: each part between "|" with spaces, tabs,
// line breaks and form feeds trimmed. A part that is not an http:// or https:// address
// is left out. Empty for an entry longer than kMaxEntryBytes (trimmed).
std::vector<std::string> utSplitMirrors(std::string_view entry);

// The name a file takes when the job gives none: the last step of its first
// mirror's path, without query or fragment. Empty when there is none.
std::string utNameFromEntry(std::string_view entry);

struct utFileEntry {
    std::vector<std::string> mirrors;
    std::string name; // in the system code page, as given or taken from the first mirror
};

enum class utEntryCheck {
    Ok,
    NoAddress, // no usable mirror, or the entry is too long
    BadName,   // the name is not one plain file name, as given and as stored (UTF-8), or is reserved
};

// Reads an entry and the name the job gives its file (may be empty).
utEntryCheck utReadFileEntry(std::string_view entry, std::string_view givenName, utFileEntry* out);

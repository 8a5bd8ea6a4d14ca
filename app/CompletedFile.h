// Which file a completion record of the download library is about, and where
// that file now lies.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The local path of the file that a "<URL>,<local path>" record names, in
// the system code page. The URL is one of the window's file-list entries
// (which may hold commas), so the record is matched against the entries
// rather than split at its first comma. A record that filled its whole
// `capacity` may have been cut: then the path is the one the library gives
// such an entry, the download folder followed by the entry's file name (the
// text after its last "/"). Nothing when the record names no entry.
std::optional<std::string> CompletedFilePath(const std::vector<std::wstring>& fileList, const std::string& folder,
                                             std::string_view record, size_t capacity);

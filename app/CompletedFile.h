// Which file a completion record of the download library is about, where
// that file now lies, and whether it is the package's installer. The window
// and the command-line front end share these rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CompletedFile {
    size_t entry = 0;      // the file's index in the file list
    std::string localPath; // where it lies, in the system code page
};

// The file that a "<URL>,<local path>" record names. The URL is one of the
// file-list entries (which may hold commas), so the record is matched
// against the entries rather than split at its first comma; of two entries
// where one extends the other, the longer match is the one the record
// names. A record that filled its whole `capacity` may have been cut: then
// the path is the one the library gives such an entry, the download folder
// followed by the entry's file name (the text after its last "/").
// Nothing when the record names no entry.
std::optional<CompletedFile> FindCompletedFile(const std::vector<std::wstring>& fileList, const std::string& folder,
                                               std::string_view record, size_t capacity);

// The record's file when it is the installer (InstallerRule.h), else nothing.
std::optional<CompletedFile> CompletedInstaller(const std::vector<std::wstring>& fileList, const std::string& folder,
                                                std::string_view record, size_t capacity);

// Whether the file at the path is there as the download left it: a plain
// file (no link) of exactly the size the size check announced. Anything
// else at the installer's path is not run.
bool IsDownloadedFile(const std::wstring& localPath, uint64_t size);

#pragma once
// Splits the file list document into its entries.
//
// The document is bytes in the system code page. Lines end with LF or CR LF (a
// lone CR is an ordinary byte). An empty line gives no entry; a line of 1024
// bytes or more ends the splitting with an error, keeping the entries before
// it; bytes after the last line end form a last line only when there are more
// than 2 of them. Each line is converted to a wide string and trimmed of white
// space at both ends, so a line of blanks gives an empty entry.
#include <cstdint>
#include <string>
#include <vector>

struct FileListSplit {
    std::vector<std::wstring> entries; // in the order of the lines
    bool longLine = false;             // a line of 1024 bytes or more stopped the splitting
};

// Lines longer than this many bytes (1023) are refused.
inline constexpr uint64_t kFileListMaxLineBytes = 1023;

FileListSplit SplitFileList(const unsigned char* data, uint64_t length);

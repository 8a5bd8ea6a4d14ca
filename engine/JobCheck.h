#pragma once
// The checks a submitted job passes before the engine accepts it: every
// file must have a folder the engine can map and create, a plain name inside
// it, and addresses it can fetch; no two files of the job may share a path.
// A job that fails gets notification 11 and nothing else.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CommandParser.h"
#include "FileTask.h"
#include "ut/utFileEntry.h"

namespace engine {

inline constexpr std::size_t kMaxFilesPerJob = 10000;
// Bytes of file records a job sent file by file may take in all.
inline constexpr std::size_t kMaxJobBytes = 64 * 1024 * 1024;

struct SubmittedJob {
    std::uint32_t jobNumber = 0;
    std::string serviceId;
    std::vector<SubmittedFile> files;
};

struct JobRefusal {
    std::string text;
    nwCDNTail tail{};
};

// A file's identity on disk for telling jobs apart: folder device and inode
// with the name.
std::string FileKey(const FileOrder& order);

// Fills `orders` (folders opened) or answers why the job is refused.
std::optional<JobRefusal> CheckJob(const SubmittedJob& job, std::vector<FileOrder>* orders);

// The addresses of a file and the name it is written under, read by the
// rule the library reads them by (utFileEntry.h); or why the job is refused.
std::optional<JobRefusal> ReadFileEntry(std::uint32_t index, const SubmittedFile& file, utFileEntry* entry);

} // namespace engine

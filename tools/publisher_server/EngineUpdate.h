#pragma once
// The engine update the publisher server offers: the update list, the engine
// program packed as zip or 7z (alone, and with its notes as the archive of
// all files) and the archives' hash files, copied from the files made at
// build time into the served folder. Faults for tests and the demo: a wrong
// hash, a broken archive, no update list at all.
#include <cstdint>
#include <string>

namespace publisher {

inline constexpr const char* kUpdateFolder = "/orvane/qlsdownload/update/v3_32/";
inline constexpr const char* kUpdateListPath = "/orvane/qlsdownload/update/v3_32/qlsdownload_updater.xml";
inline constexpr const char* kEngineProgramName = "QLSDownloadV32.exe";
inline constexpr const char* kEngineNotesName = "QLSDownloadV32.txt";

enum class UpdateFault {
    None,
    WrongHash,     // every hash file differs from its archive in its first byte
    BrokenArchive, // the archives are no archives (their hash files match them)
    NoList,        // the update list is missing (404)
};

struct UpdateOptions {
    std::string root{};             // folder that receives the files
    std::string host = "127.0.0.1"; // host written into the update list
    uint16_t port = 0;
    std::string version{};           // the version offered; empty: the built engine's
    std::string archiveType = "zip"; // "zip" or "7z"
    bool listNotes = false;          // the list names the notes as a second file
    UpdateFault fault = UpdateFault::None;
};

// The engine program's version as built (its version resource).
std::string builtEngineVersion();

// Writes the update into options.root; false with a reason in error.
bool generateEngineUpdate(const UpdateOptions& options, std::string& error);

// Reads a fault's name as the command line gives it ("none", "wrong-hash",
// "broken-archive", "no-list"); false for anything else.
bool parseUpdateFault(const std::string& text, UpdateFault& fault);

} // namespace publisher

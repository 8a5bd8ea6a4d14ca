#pragma once
// The engine update the publisher server offers: the update list, the engine
// program packed as zip or 7z (alone, and with its notes as the archive of
// all files), the archives' hash files, and the detached signature of the
// list and of every archive ("<name>.sig", Ed25519 over the file's bytes)
// made with the publisher's signing key, copied from the files made at build
// time into the served folder. Faults for tests and the demo: a wrong or
// missing or short hash, an entry without hash, a broken archive, one broken
// at its second file, no update list, no list signature, archives signed by
// another key.
#include <cstdint>
#include <string>

namespace publisher {

inline constexpr const char* kUpdateFolder = "/orvane/qlsdownload/update/v3_32/";
inline constexpr const char* kUpdateListPath = "/orvane/qlsdownload/update/v3_32/qlsdownload_updater.xml";
inline constexpr const char* kEngineProgramName = "QLSDownloadV32.exe";
inline constexpr const char* kEngineNotesName = "QLSDownloadV32.txt";
inline constexpr const char* kSignatureSuffix = ".sig";

enum class UpdateFault {
    None,
    WrongHash,        // every hash file differs from its archive in its first byte
    BrokenArchive,    // the archives are no archives (their hash files match them)
    NoList,           // the update list is missing (404)
    NoHash,           // the hash files are missing (404)
    ShortHash,        // the hash files hold less than every chunk's digest
    NoHashEntry,      // the update list names no hash file
    ForeignSignature, // the archives are signed by another key than the publisher's
    NoListSignature,  // the update list has no signature (404)
    HalfBroken,       // the archive of all files breaks at its second file (zip only)
};

struct UpdateOptions {
    std::string root{};             // folder that receives the files
    std::string host = "127.0.0.1"; // host written into the update list
    uint16_t port = 0;
    std::string version{};           // the version offered; empty: the built engine's
    std::string archiveType = "zip"; // "zip" or "7z"
    bool listNotes = false;          // the list names the notes as a second file
    UpdateFault fault = UpdateFault::None;
    // The publisher's Ed25519 private key (PEM); empty: nothing is signed.
    // By default the build's development key.
    std::string signingKey = defaultSigningKey();

    static std::string defaultSigningKey();
};

// The engine program's version as built (its version resource).
std::string builtEngineVersion();

// The detached signature of the bytes with the Ed25519 private key in the
// PEM file, or with a fresh key of nobody's when keyFile is empty; "" when
// the key cannot be read.
std::string signUpdateFile(const std::string& bytes, const std::string& keyFile);

// Writes the update into options.root; false with a reason in error.
bool generateEngineUpdate(const UpdateOptions& options, std::string& error);

// Reads a fault's name as the command line gives it ("none", "wrong-hash",
// "broken-archive", "no-list", "no-hash", "short-hash", "no-hash-entry",
// "foreign-signature", "no-list-signature", "half-broken"); false for
// anything else.
bool parseUpdateFault(const std::string& text, UpdateFault& fault);

} // namespace publisher

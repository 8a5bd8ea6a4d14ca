#include "LogCollection.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/utsname.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include <win32_ext.h>
#include <windows.h>

namespace {

// The folder every entry of the archive lies in.
constexpr const char* kFolder = "qlsdownloader-logs/";
// Logs are kept below 1 MiB by their writers; a bigger file is cut to its end.
constexpr std::uintmax_t kLargestLog = 8u << 20;

std::string ReadTail(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::string();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    const std::streamoff keep = std::min<std::streamoff>(size, static_cast<std::streamoff>(kLargestLog));
    in.seekg(size - keep);
    std::string bytes(static_cast<size_t>(keep), '\0');
    in.read(bytes.data(), keep);
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

// The FileVersion of the engine's program, as the library reads it.
std::string EngineVersion(const std::string& program)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(program.c_str(), &handle);
    if (size == 0)
        return std::string();
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(program.c_str(), 0, size, block.data()))
        return std::string();
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\StringFileInfo\\040404B0\\FileVersion", &value, &length) || length == 0)
        return std::string();
    return std::string(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), length));
}

std::string OsRelease()
{
    std::ifstream in("/etc/os-release");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            std::string value = line.substr(12);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            return value;
        }
    }
    return "unknown";
}

std::string Found(const std::string& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return path + (ec ? " (not found)" : " (" + std::to_string(size) + " bytes)");
}

struct ArchiveCloser {
    void operator()(archive* a) const { archive_write_free(a); }
};

bool AddEntry(archive* a, const std::string& name, const std::string& bytes, std::time_t when)
{
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), &archive_entry_free);
    archive_entry_set_pathname(entry.get(), (std::string(kFolder) + name).c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(bytes.size()));
    archive_entry_set_mtime(entry.get(), when, 0);
    if (archive_write_header(a, entry.get()) != ARCHIVE_OK)
        return false;
    return bytes.empty() || archive_write_data(a, bytes.data(), bytes.size()) == static_cast<la_ssize_t>(bytes.size());
}

} // namespace

std::string LogPathsText(const LogLocations& logs)
{
    return "The logs for a support request (qlsdownloader-cli --collect-logs FILE packs them):\n"
           "  service log: " +
           logs.serviceLog + "\n  engine log:  " + logs.engineLog + "\n";
}

std::string VersionsText(const LogLocations& logs, const std::string& programVersion)
{
    std::ostringstream text;
    text << "qlsdownloader-cli " << programVersion << "\n";
    const std::string engine = EngineVersion(WindowsLogLocations().engineProgram);
    text << "engine: " << (engine.empty() ? "not installed" : engine) << " (" << logs.engineFolder << ")\n";
    text << "system: " << OsRelease() << "\n";
    utsname name{};
    if (uname(&name) == 0)
        text << "kernel: " << name.sysname << " " << name.release << " " << name.machine << "\n";
    text << "C: drive: " << W32DriveCRoot() << "\n";
    text << "service log: " << Found(logs.serviceLog) << "\n";
    text << "engine log: " << Found(logs.engineLog) << "\n";
    const std::time_t now = std::time(nullptr);
    char stamp[64] = {};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S %z", std::localtime(&now));
    text << "collected: " << stamp << "\n";
    return text.str();
}

bool CollectLogs(const std::string& file, const LogLocations& logs, const std::string& programVersion,
                 std::string& error)
{
    std::unique_ptr<archive, ArchiveCloser> a(archive_write_new());
    if (archive_write_set_format_filter_by_ext(a.get(), file.c_str()) != ARCHIVE_OK) {
        // No kind known for the name: a gzip-compressed tar.
        a.reset(archive_write_new());
        archive_write_set_format_pax_restricted(a.get());
        archive_write_add_filter_gzip(a.get());
    }
    if (archive_write_open_filename(a.get(), file.c_str()) != ARCHIVE_OK) {
        error = "cannot write " + file + ": " + archive_error_string(a.get());
        return false;
    }
    const std::time_t now = std::time(nullptr);
    bool ok = AddEntry(a.get(), "versions.txt", VersionsText(logs, programVersion), now);
    for (const std::string& log : {logs.serviceLog, logs.engineLog, logs.engineLogOld}) {
        std::error_code ec;
        if (ok && std::filesystem::is_regular_file(log, ec))
            ok = AddEntry(a.get(), std::filesystem::path(log).filename().string(), ReadTail(log), now);
    }
    if (archive_write_close(a.get()) != ARCHIVE_OK || !ok) {
        error = "cannot write " + file + ": " + (archive_error_string(a.get()) ? archive_error_string(a.get()) : "");
        return false;
    }
    return true;
}

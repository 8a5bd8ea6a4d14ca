#include "EngineUpdate.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace publisher {

namespace {

namespace fs = std::filesystem;

bool readWhole(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in) || in.eof();
}

bool writeWhole(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Serves one archive (and its hash file) under `name` as the fault wants it.
bool serveArchive(const UpdateOptions& o, const std::string& name, std::string& error)
{
    const std::string built = std::string(ENGINE_UPDATE_DIR) + "/" + name;
    const bool broken = o.fault == UpdateFault::BrokenArchive;
    std::string archive, hash;
    if (!readWhole(broken ? ENGINE_UPDATE_NOTES : built, archive) ||
        !readWhole(broken ? std::string(ENGINE_UPDATE_DIR) + "/broken.hash" : built + ".hash", hash) ||
        archive.empty() || hash.empty()) {
        error = "cannot read the built engine update " + built + " (build the target engine_update_files)";
        return false;
    }
    if (o.fault == UpdateFault::WrongHash)
        hash[0] = static_cast<char>(hash[0] ^ 0xFF);
    const std::string served = o.root + kUpdateFolder + name;
    if (!writeWhole(served, archive) || !writeWhole(served + ".hash", hash)) {
        error = "cannot write " + served;
        return false;
    }
    return true;
}

std::string entry(const std::string& name, const std::string& version, const std::string& url)
{
    return "<" + name + (version.empty() ? "" : " ver=\"" + version + "\"") + " url=\"" + url + "\" hash=\"" + url +
           ".hash\"/>\r\n";
}

} // namespace

std::string builtEngineVersion()
{
    return ENGINE_VERSION;
}

bool parseUpdateFault(const std::string& text, UpdateFault& fault)
{
    if (text == "none")
        fault = UpdateFault::None;
    else if (text == "wrong-hash")
        fault = UpdateFault::WrongHash;
    else if (text == "broken-archive")
        fault = UpdateFault::BrokenArchive;
    else if (text == "no-list")
        fault = UpdateFault::NoList;
    else
        return false;
    return true;
}

bool generateEngineUpdate(const UpdateOptions& o, std::string& error)
{
    if (o.archiveType != "zip" && o.archiveType != "7z") {
        error = "unknown archive type " + o.archiveType;
        return false;
    }
    std::error_code ec;
    fs::create_directories(o.root + kUpdateFolder, ec);
    if (ec) {
        error = "cannot create " + o.root + kUpdateFolder + ": " + ec.message();
        return false;
    }
    const std::string program = std::string("QLSDownloadV32.") + o.archiveType;
    const std::string all = std::string("qlsdownload_all.") + o.archiveType;
    if (!serveArchive(o, program, error) || !serveArchive(o, all, error))
        return false;
    const std::string listPath = o.root + kUpdateListPath;
    if (o.fault == UpdateFault::NoList) {
        fs::remove(listPath, ec);
        return true;
    }
    const std::string base = "http://" + o.host + ":" + std::to_string(o.port) + kUpdateFolder;
    const std::string version = o.version.empty() ? builtEngineVersion() : o.version;
    std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<qlsdownload_updater>\r\n<file>\r\n";
    list += entry(kEngineProgramName, version, base + program);
    if (o.listNotes)
        list += entry(kEngineNotesName, version, base + all);
    list += "</file>\r\n<all>\r\n" + entry("all", "", base + all) + "</all>\r\n</qlsdownload_updater>\r\n";
    if (!writeWhole(listPath, list)) {
        error = "cannot write " + listPath;
        return false;
    }
    return true;
}

} // namespace publisher

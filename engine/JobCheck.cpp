#include "JobCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <win32_ext.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "FileName.h"

namespace engine {

namespace {

// Text in the system code page (as the library sends it) as UTF-8 for the
// file system.
std::string ToUtf8(const std::string& text)
{
    if (text.empty()) {
        return {};
    }
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) {
        return {};
    }
    std::wstring buffer(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const std::size_t length = std::strlen(prefix);
    return text.size() > length && strncasecmp(text.c_str(), prefix, length) == 0;
}

std::string Trim(std::string text)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.back())) {
        text.pop_back();
    }
    std::size_t first = 0;
    while (first < text.size() && space(text[first])) {
        ++first;
    }
    return text.substr(first);
}

JobRefusal Refusal(std::string text, std::uint32_t code, std::uint32_t index, std::uint64_t value = 0)
{
    return {std::move(text), {code, index, value}};
}

} // namespace

std::string FileKey(const FileOrder& order)
{
    struct stat folder {};
    ::fstat(order.folder->Get(), &folder);
    return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino) + "/" + order.name;
}

std::vector<std::string> SplitMirrors(const std::string& entry)
{
    std::vector<std::string> mirrors;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = entry.find('|', start);
        std::string url = Trim(entry.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) {
            return {};
        }
        mirrors.push_back(std::move(url));
        if (bar == std::string::npos) {
            return mirrors;
        }
        start = bar + 1;
    }
}

std::optional<JobRefusal> CheckJob(const SubmittedJob& job, std::vector<FileOrder>* orders)
{
    if (job.files.empty() || job.files.size() > kMaxFilesPerJob) {
        return Refusal("a job holds 1 to " + std::to_string(kMaxFilesPerJob) + " files, not " +
                           std::to_string(job.files.size()),
                       CDN_CODE_BAD_JOB, CDN_NO_FILE, job.files.size());
    }
    std::map<std::string, SharedFd> folders;
    std::set<std::string> keys;
    orders->clear();
    for (std::uint32_t index = 0; index < job.files.size(); ++index) {
        const SubmittedFile& file = job.files[index];
        FileOrder order;
        order.index = index;
        order.urlEntry = file.url;
        order.declaredSize = file.fields.size >= 0 ? file.fields.size : -1;
        order.mirrors = file.url.size() <= kMaxUrlLength ? SplitMirrors(file.url) : std::vector<std::string>();
        if (order.mirrors.empty() || order.mirrors.size() > kMaxMirrors) {
            return Refusal("file " + std::to_string(index) + " has no usable address", CDN_CODE_BAD_JOB, index);
        }
        std::string folder(nwCDNFieldText(file.fields.folder, sizeof file.fields.folder));
        std::string name(nwCDNFieldText(file.fields.fileName, sizeof file.fields.fileName));
        if (name.empty()) {
            name = NameFromUrl(order.mirrors.front());
        }
        order.displayName = name;
        order.name = ToUtf8(name);
        // The name as the client sent it and as it is written must both pass.
        if (!IsPlainFileName(name) || !IsPlainFileName(order.name) || HasEngineSuffix(order.name)) {
            return Refusal("file name not allowed: \"" + name + "\"", CDN_CODE_BAD_FILE_NAME, index);
        }
        if (folder.empty()) {
            return Refusal("file " + std::to_string(index) + " has no folder", CDN_CODE_BAD_FOLDER, index);
        }
        order.localPath = folder + (folder.back() == '\\' ? "" : "\\") + name;
        const std::string posixFolder = W32PathToPosix(folder);
        if (posixFolder.empty()) {
            return Refusal("folder cannot be used: " + folder, CDN_CODE_BAD_FOLDER, index);
        }
        SharedFd& open = folders[posixFolder];
        if (!open) {
            std::error_code ignored;
            std::filesystem::create_directories(posixFolder, ignored);
            const int fd = ::open(posixFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                return Refusal("folder cannot be used: " + folder + ": " + std::strerror(errno), CDN_CODE_BAD_FOLDER,
                               index, static_cast<std::uint64_t>(errno));
            }
            open = std::make_shared<Descriptor>(fd);
        }
        order.folder = open;
        order.partName = PartFileName(order.name);
        order.stateName = StateFileName(order.name);
        order.stateTemp = StateTempName(order.name);
        if (!keys.insert(FileKey(order)).second) {
            return Refusal("the job names " + order.localPath + " twice", CDN_CODE_BAD_JOB, index);
        }
        orders->push_back(std::move(order));
    }
    return std::nullopt;
}

} // namespace engine

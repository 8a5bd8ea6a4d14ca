#include "JobCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <win32_ext.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "FileName.h"

namespace engine {

namespace {

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

std::optional<JobRefusal> ReadFileEntry(std::uint32_t index, const SubmittedFile& file, utFileEntry* entry)
{
    const std::string_view given = nwCDNFieldText(file.fields.fileName, sizeof file.fields.fileName);
    switch (utReadFileEntry(file.url, given, entry)) {
    case utEntryCheck::Ok:
        return std::nullopt;
    case utEntryCheck::NoAddress:
        return Refusal("file " + std::to_string(index) + " has no usable address", CDN_CODE_BAD_JOB, index);
    case utEntryCheck::BadName:
        break;
    }
    return Refusal("file name not allowed: \"" + entry->name + "\"", CDN_CODE_BAD_FILE_NAME, index);
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
        utFileEntry entry;
        if (std::optional<JobRefusal> refusal = ReadFileEntry(index, file, &entry)) {
            return refusal;
        }
        order.mirrors = std::move(entry.mirrors);
        const std::string& name = entry.name;
        const std::string folder(nwCDNFieldText(file.fields.folder, sizeof file.fields.folder));
        order.displayName = name;
        order.name = StoredFileName(name);
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

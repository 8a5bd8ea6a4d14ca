#include "StagedInstall.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "ExtractArchive.h"
#include "StoreCode.h"

namespace {

constexpr const char* kStagingSuffix = ".staging";

std::string WithoutTrailingSeparators(std::string path, char separator)
{
    while (path.size() > 1 && path.back() == separator)
        path.pop_back();
    return path;
}

bool Sync(const std::string& path, int flags)
{
    const int fd = open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

// What the staging folder holds, below it: folders (parents first) and files.
struct StagedTree {
    std::vector<std::string> folders;
    std::vector<std::string> files;
};

bool ListStaged(const std::string& staging, StagedTree& tree)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::exists(staging, error))
        return !error; // an archive without entries
    for (fs::recursive_directory_iterator it(staging, error), end; !error && it != end; it.increment(error)) {
        const fs::file_status status = it->symlink_status(error);
        const std::string relative = it->path().lexically_relative(staging).string();
        if (fs::is_directory(status))
            tree.folders.push_back(relative);
        else if (fs::is_regular_file(status))
            tree.files.push_back(relative);
        else
            return false; // a link or a special file: extraction makes none
    }
    return !error;
}

// Syncs every staged file and folder, then moves the files into place.
bool MoveIntoPlace(const std::string& staging, const std::string& target)
{
    StagedTree tree;
    if (!ListStaged(staging, tree))
        return false;
    for (const std::string& file : tree.files) {
        if (!Sync(staging + "/" + file, O_RDONLY))
            return false;
    }
    for (const std::string& folder : tree.folders) {
        if (!Sync(staging + "/" + folder, O_RDONLY | O_DIRECTORY))
            return false;
    }
    if (!Sync(staging, O_RDONLY | O_DIRECTORY))
        return false;
    for (const std::string& folder : tree.folders) {
        if (mkdir((target + "/" + folder).c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    for (const std::string& file : tree.files) {
        if (rename((staging + "/" + file).c_str(), (target + "/" + file).c_str()) != 0)
            return false;
    }
    for (const std::string& folder : tree.folders)
        Sync(target + "/" + folder, O_RDONLY | O_DIRECTORY);
    return Sync(target, O_RDONLY | O_DIRECTORY);
}

} // namespace

int InstallArchive(int type, const unsigned char* bytes, int64_t length, const char* folder)
{
    if (folder == nullptr || folder[0] == '\0')
        return kStoreCodeExtractFailed;
    const std::string windowsFolder = WithoutTrailingSeparators(folder, '\\');
    const std::string target = WithoutTrailingSeparators(W32PathToPosix(std::string_view(windowsFolder)), '/');
    if (target.empty() || target == "/")
        return kStoreCodeExtractFailed;
    const std::string staging = target + kStagingSuffix;
    // Whatever an earlier, interrupted install left there (links in it are
    // removed, never followed).
    std::error_code error;
    std::filesystem::remove_all(staging, error);
    int code = ExtractArchive(type, bytes, length, (windowsFolder + kStagingSuffix + "\\").c_str());
    if (code == kStoreCodeStored && !MoveIntoPlace(staging, target))
        code = kStoreCodeExtractFailed;
    std::filesystem::remove_all(staging, error);
    return code;
}

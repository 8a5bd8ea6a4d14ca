#include "CompletedFile.h"

#include <sys/stat.h>

#include <win32_ext.h>

#include "InstallerRule.h"
#include "SystemCodePage.h"

namespace {

// The entry as the library keeps it: in the system code page, without the
// blanks around it.
std::string LibraryUrl(const std::wstring& entry)
{
    std::string url = ToSystemCodePage(entry);
    const size_t first = url.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return url.substr(first, url.find_last_not_of(" \t") - first + 1);
}

std::string PathInFolder(std::string folder, const std::string& url)
{
    if (folder.empty() || folder.back() != '\\')
        folder.push_back('\\');
    const size_t slash = url.rfind('/');
    return folder + (slash == std::string::npos ? std::string() : url.substr(slash + 1));
}

} // namespace

std::optional<CompletedFile> FindCompletedFile(const std::vector<std::wstring>& fileList, const std::string& folder,
                                               std::string_view record, size_t capacity)
{
    const bool cut = record.size() >= capacity;
    std::string match;
    std::optional<size_t> found;
    for (size_t i = 0; i < fileList.size(); ++i) {
        const std::string url = LibraryUrl(fileList[i]);
        if (url.empty())
            continue;
        // "<url>," starts the record; of two entries where one extends the
        // other, the longer match is the one the record names.
        const bool whole =
            record.size() > url.size() && record.substr(0, url.size()) == url && record[url.size()] == ',';
        // A record cut inside its URL is a prefix of the entry.
        const bool prefix = cut && std::string_view(url).substr(0, record.size()) == record;
        if ((whole || prefix) && (!found || url.size() > match.size())) {
            match = url;
            found = i;
        }
    }
    if (!found)
        return std::nullopt;
    if (!cut && record.size() > match.size())
        return CompletedFile{*found, std::string(record.substr(match.size() + 1))};
    return CompletedFile{*found, PathInFolder(folder, match)};
}

std::optional<CompletedFile> CompletedInstaller(const std::vector<std::wstring>& fileList, const std::string& folder,
                                                std::string_view record, size_t capacity)
{
    std::optional<CompletedFile> file = FindCompletedFile(fileList, folder, record, capacity);
    if (!file || !IsInstallerPath(fileList.size(), FromSystemCodePage(file->localPath)))
        return std::nullopt;
    return file;
}

bool IsDownloadedFile(const std::wstring& localPath, uint64_t size)
{
    const std::string posix = W32PathToPosix(std::wstring_view(localPath));
    struct stat held {};
    return !posix.empty() && lstat(posix.c_str(), &held) == 0 && S_ISREG(held.st_mode) &&
           static_cast<uint64_t>(held.st_size) == size;
}

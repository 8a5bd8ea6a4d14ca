// Fuzz target: the name a file is stored under and where the platform puts
// it. The first byte picks a download folder, the rest is "URL \n given name
// \n folder suffix". Every name the library accepts must map to an entry
// directly inside the mapped folder, whatever the folder and the URL are.

#include <cstdint>
#include <cstdlib>
#include <string>

#include <win32_ext.h>

#include "FolderPath.h"
#include "ut/utFileEntry.h"

namespace {

const bool g_driveC = [] {
    // A drive C: that needs no folder on disk: only paths are mapped here.
    setenv("MESHDROP_DRIVE_C", "/fuzz/drive_c", 1);
    return true;
}();

std::string NextField(std::string& rest)
{
    const size_t end = rest.find('\n');
    std::string field = rest.substr(0, end);
    rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
    return field;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > 4096) {
        return 0;
    }
    static const char* const kFolders[] = {"C:\\dl\\", "Z:\\srv\\games\\", "C:\\", "Z:\\", "c:/dl"};
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string url = NextField(rest);
    const std::string given = NextField(rest);
    const std::string folder = NormalizeFolder((kFolders[data[0] % 5] + NextField(rest)).c_str());

    utFileEntry entry;
    if (utReadFileEntry(url, given, &entry) != utEntryCheck::Ok) {
        return 0;
    }
    const std::string& name = entry.name;
    std::string posixFolder = W32PathToPosix(std::string_view(folder));
    const std::string posixPath = W32PathToPosix(std::string_view(folder + name));
    if (posixFolder.empty()) {
        return 0; // a folder the platform cannot map: nothing is created anywhere
    }
    while (posixFolder.size() > 1 && posixFolder.back() == '/') {
        posixFolder.pop_back();
    }
    const std::string prefix = posixFolder == "/" ? posixFolder : posixFolder + "/";
    const bool below = posixPath.size() > prefix.size() && posixPath.compare(0, prefix.size(), prefix) == 0 &&
                       posixPath.find('/', prefix.size()) == std::string::npos;
    if (!below || !LiesDirectlyInFolder(folder, folder + name)) {
        __builtin_trap();
    }
    return 0;
}

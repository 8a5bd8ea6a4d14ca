#include "UpdateList.h"

#include <windows.h>

#include "GetPath_V32.h"
#include "IGetPath.h"
#include "ProgramVersion.h"
#include "ServiceLog.h"
#include "StoreCode.h"
#include "XMLParserOrvane.h"

namespace {

// Buffers of the attributes read, as large as the list's values may be.
constexpr size_t kVersionSize = 128;
constexpr size_t kUrlSize = 256;

std::string Attribute(const CXMLParserOrvane& parser, const CXMLElement* element, const char* name, size_t size)
{
    std::string value(size, '\0');
    value.resize(static_cast<size_t>(parser.GetAttribute(element, name, value.data(), value.size())));
    return value;
}

// The wanted paths: the program when the versions differ, with one empty
// entry that only counts; the program alone when the versions are equal but
// the program is missing; else nothing.
std::vector<std::string> WantedPaths(const std::string& currentVersion, const std::string& newVersion,
                                     const std::string& programPath)
{
    if (currentVersion != newVersion)
        return {programPath, std::string()};
    if (GetFileAttributesA(programPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return {programPath};
    return {};
}

// The archive of one entry (a child of `file`, or `all`/`all`); false when it
// has no address.
bool AddRecord(const CXMLParserOrvane& parser, const CXMLElement* entry, std::string name, std::string folder,
               std::vector<UpdateRecord>& records)
{
    UpdateRecord record{Attribute(parser, entry, "url", kUrlSize), Attribute(parser, entry, "hash", kUrlSize),
                        std::move(name), std::move(folder)};
    if (record.fileUrl.empty())
        return false;
    records.push_back(std::move(record));
    return true;
}

} // namespace

int ReadUpdateList(const CXMLParserOrvane& parser, std::string& newVersion, std::vector<UpdateRecord>& records)
{
    records.clear();
    const CXMLElement* root = parser.GetRoot();
    const CXMLElement* files = parser.FindChild(root, "file");
    const std::string offered =
        Attribute(parser, parser.FindChild(files, CGetPath_V32::kProgramFile), "ver", kVersionSize);
    if (offered.empty())
        return kStoreCodeListUnusable;
    newVersion = offered;

    std::string programPath;
    GetPathProvider().GetProgramPath(programPath);
    std::string currentVersion;
    // A missing program, or one without a version resource, has no version.
    (void)ReadProgramVersion(programPath.c_str(), currentVersion);
    WriteServiceLogFormat("[MeshdropLib] Current Version: %s / New Version: %s", currentVersion.c_str(),
                          offered.c_str());

    const std::vector<std::string> wanted = WantedPaths(currentVersion, offered, programPath);
    WriteServiceLogFormat("[MeshdropLib] Update File (Count: %d)", static_cast<int>(wanted.size()));

    // As many files wanted as the list has: the archive that holds them all.
    if (static_cast<int>(wanted.size()) == parser.GetChildCount(files)) {
        std::string installFolder;
        GetPathProvider().GetInstallFolder(installFolder);
        const CXMLElement* all = parser.FindChild(parser.FindChild(root, "all"), "all");
        return AddRecord(parser, all, CGetPath_V32::kProgramFile, installFolder, records) ? kStoreCodeStored
                                                                                          : kStoreCodeListUnusable;
    }
    for (const std::string& path : wanted) {
        if (path.empty())
            continue;
        const size_t slash = path.rfind('\\');
        const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (!AddRecord(parser, parser.FindChild(files, name.c_str()), name, folder, records))
            return kStoreCodeListUnusable;
    }
    return kStoreCodeStored;
}

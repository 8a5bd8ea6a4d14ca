#include "GetPath_V32.h"

#include <shlobj.h>
#include <windows.h>

namespace {
const CGetPath_V32 g_pathProvider;
}

const IGetPath& GetPathProvider()
{
    return g_pathProvider;
}

void CGetPath_V32::GetBaseFolder(std::string& folder) const
{
    char appData[MAX_PATH] = {};
    // Asked for without CSIDL_FLAG_CREATE: the folder is not created here.
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
        appData[0] = '\0';
    folder = appData;
    if (!folder.empty() && folder.back() != '\\')
        folder.push_back('\\');
    folder += kCompanyFolder;
}

void CGetPath_V32::GetInstallFolder(std::string& folder) const
{
    GetBaseFolder(folder);
    folder += kInstallFolder;
}

void CGetPath_V32::GetProgramPath(std::string& path) const
{
    GetInstallFolder(path);
    path += kProgramFile;
}

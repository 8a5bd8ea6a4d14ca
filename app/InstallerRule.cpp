#include "InstallerRule.h"

#include <cwctype>

bool IsInstallerPath(size_t fileListSize, std::wstring_view localPath)
{
    if (fileListSize == 1)
        return true;
    const size_t dot = localPath.rfind(L'.');
    if (localPath.empty() || dot == std::wstring_view::npos)
        return false;
    const std::wstring_view extension = localPath.substr(dot);
    constexpr std::wstring_view kExe = L".exe";
    if (extension.size() != kExe.size())
        return false;
    for (size_t i = 0; i < kExe.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(extension[i])) != static_cast<wint_t>(kExe[i]))
            return false;
    }
    return true;
}

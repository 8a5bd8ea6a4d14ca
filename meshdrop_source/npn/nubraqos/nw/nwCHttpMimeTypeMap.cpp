#include "nw/nwCHttpMimeTypeMap.h"

#include <cstring>

#include "nw/nwHttpConstants.h"
#include "nw/nwHttpText.h"

namespace {

nwCHttpMimeTypeMap* g_installed = nullptr;

} // namespace

void nwCHttpMimeTypeMap::Add(const char* extension, const char* mimeType)
{
    if (!extension || !*extension || !mimeType || !*mimeType) {
        return;
    }
    m_entries.push_back({ovCString(extension), ovCString(mimeType)});
}

const char* nwCHttpMimeTypeMap::Lookup(const char* fileName) const
{
    const char* dot = fileName ? std::strrchr(fileName, '.') : nullptr;
    if (dot) {
        for (const Entry& entry : m_entries) {
            if (nwEqualsNoCase(entry.extension.GetString(), dot + 1)) {
                return entry.mimeType.GetString();
            }
        }
    }
    return kHttpDefaultMimeType;
}

nwCHttpMimeTypeMap* nwCHttpMimeTypeMap::GetMimeTypeMap()
{
    if (!g_installed) {
        static nwCHttpMimeTypeMap fallback;
        return &fallback;
    }
    return g_installed;
}

void nwCHttpMimeTypeMap::SetMimeTypeMap(nwCHttpMimeTypeMap* map)
{
    g_installed = map;
}

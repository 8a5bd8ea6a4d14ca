#pragma once
// The process's table of (file extension, MIME type) pairs. This program puts
// no entries in it, so every look-up answers "application/octet-stream"; the
// table is there for the POST builder to ask.

#include <vector>

#include "ov/ovCString.h"

class nwCHttpMimeTypeMap {
public:
    nwCHttpMimeTypeMap() = default;
    nwCHttpMimeTypeMap(const nwCHttpMimeTypeMap&) = delete;
    nwCHttpMimeTypeMap& operator=(const nwCHttpMimeTypeMap&) = delete;

    void Add(const char* extension, const char* mimeType);
    // The type for the extension of `fileName` (after its last "."; ASCII case
    // ignored), or "application/octet-stream".
    const char* Lookup(const char* fileName) const;
    std::size_t GetCount() const { return m_entries.size(); }

    // The map the network runtime installed, or one made on first use.
    static nwCHttpMimeTypeMap* GetMimeTypeMap();
    // Installs (or, with null, removes) the process's map.
    static void SetMimeTypeMap(nwCHttpMimeTypeMap* map);

private:
    struct Entry {
        ovCString extension;
        ovCString mimeType;
    };
    std::vector<Entry> m_entries;
};

#pragma once
// What a file record of the engine update hands to the list that holds it:
// every complete body that is not hash data. The list parses, verifies or
// extracts it and answers with a store code (StoreCode.h).

#include <cstdint>

struct CHashData;

class IDownloadFileEventListener {
public:
    // The update list's text. cookie: the record, as given with SetOwner.
    virtual int OnListData(void* cookie, const void* body, int64_t length) = 0;
    // An archive; hashData: the record's hash bytes, or null when the archive
    // goes unchecked.
    virtual int OnFileData(void* cookie, const CHashData* hashData, const void* body, int64_t length) = 0;
    virtual ~IDownloadFileEventListener() = default;
};

#pragma once
// CDownloadFile: one file of an engine update, as its list holds it: where
// its archive and (optionally) its hash file are, where the archive goes, and
// how often it may still be fetched. A CDownloadSession fetches its addresses
// one after the other, hash file first; the record keeps the hash bytes and
// hands the update list or the archive to its owner.

#include <cstdint>
#include <memory>
#include <string>

#include "ArchiveHash.h"
#include "IDownloadFileEventListener.h"
#include "IProgressFile.h"

class CDownloadFile : public IProgressFile {
public:
    // Fetches of a record with an address, unless attempts are unlimited.
    static constexpr int kAttempts = 3;

    // Any argument may be null or empty. Without a file address the record
    // stays empty (no address, no attempts). A hash address comes with empty
    // hash data that its fetch fills.
    CDownloadFile(const char* fileUrl, const char* hashUrl, const char* name, const char* folder);
    CDownloadFile(const CDownloadFile&) = delete;
    CDownloadFile& operator=(const CDownloadFile&) = delete;

    void SetOwner(IDownloadFileEventListener* owner, void* cookie);

    // ---- IProgressFile ----
    // The hash address while the hash data is still to be fetched, else the
    // archive's (or the update list's) address. Always 1.
    int GetUrl(std::string& url) override;
    // 0 right after the hash data was stored (the archive is still to come).
    int IsFinished() override;
    uint32_t StoreData(const char* url, const void* body, int64_t length, uint32_t* kind) override;
    int GetUrlKind(const char* url) override;

    // 1 when the address is the one the record hands out now.
    int MatchesUrl(const char* url) const;
    // Marks the record as being fetched and counts the attempt; null while
    // it is being fetched or when no attempt is left.
    CDownloadFile* TryAcquire();
    // Ends a fetch. 1 when the record is to leave its list: it was stored, or
    // it failed with no attempt left. A failed hash fetch drops the hash: the
    // next fetch takes the archive unchecked.
    int Done(int success);
    void SetUnlimited(int unlimited) { m_nUnlimited = unlimited; }

    const std::string& GetFileUrl() const { return m_fileUrl; }
    const std::string& GetFolder() const { return m_folder; }
    int IsInProgress() const { return m_nInProgress; }
    int GetAttemptsLeft() const { return m_nAttemptsLeft; }

private:
    // The update list's record has neither hash, name nor folder.
    bool IsUpdateList() const { return !m_hashData && m_folder.empty() && m_name.empty(); }
    const std::string& CurrentUrl() const { return m_hashUrl.empty() ? m_fileUrl : m_hashUrl; }

    IDownloadFileEventListener* m_pOwner = nullptr;
    void* m_cookie = nullptr;
    std::string m_fileUrl;
    std::string m_hashUrl; // emptied once the hash data is stored or its fetch failed
    std::string m_folder;  // with its trailing "\"
    std::string m_name;
    int m_nLastKind = PROGRESS_URL_NONE;
    std::unique_ptr<CHashData> m_hashData;
    int m_nInProgress = 0;
    int m_nUnlimited = 0;
    int m_nAttemptsLeft = 0;
};

#pragma once
// CDownloadFile: one file of an engine update, as its list holds it: where
// its archive, its hash file and its signature are, where the archive goes,
// and how often it may still be fetched. A CDownloadSession fetches its
// addresses one after the other: the update list and then its signature;
// an archive's hash file, its signature and then the archive. The record
// keeps the hash bytes and the signature, checks the signature, and hands
// the update list or the archive to its owner.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveHash.h"
#include "IDownloadFileEventListener.h"
#include "IProgressFile.h"

class CDownloadFile : public IProgressFile {
public:
    // Fetches of a record with an address, unless attempts are unlimited.
    static constexpr int kAttempts = 3;
    // The longest update list kept while its signature is fetched; a longer
    // one is unusable (store code 3).
    static constexpr int64_t kMaxUpdateListLength = int64_t{1} << 20;

    // Any argument may be null or empty. Without a file address the record
    // stays empty (no address, no attempts). A hash address comes with empty
    // hash data that its fetch fills; every file address has its signature
    // beside it ("<address>.sig").
    CDownloadFile(const char* fileUrl, const char* hashUrl, const char* name, const char* folder);
    CDownloadFile(const CDownloadFile&) = delete;
    CDownloadFile& operator=(const CDownloadFile&) = delete;

    void SetOwner(IDownloadFileEventListener* owner, void* cookie);

    // ---- IProgressFile ----
    // The next address still to fetch, in the order above. Always 1.
    int GetUrl(std::string& url) override;
    // 0 right after a body that another address of the record follows.
    int IsFinished() override;
    uint32_t StoreData(const char* url, const void* body, int64_t length, uint32_t* kind) override;
    int GetUrlKind(const char* url) override;

    // 1 when the address is the one the record hands out now.
    int MatchesUrl(const char* url) const;
    // Whether the address is the record's hash file or signature, still to
    // be fetched: what proves the record's file is the publisher's.
    bool IsProofUrl(const char* url) const;
    // Marks the record as being fetched and counts the attempt; null while
    // it is being fetched or when no attempt is left.
    CDownloadFile* TryAcquire();
    // Ends a fetch. 1 when the record is to leave its list: it was stored, or
    // it failed with no attempt left. What was stored stays for the next
    // attempt.
    int Done(int success);
    void SetUnlimited(int unlimited) { m_nUnlimited = unlimited; }

    const std::string& GetFileUrl() const { return m_fileUrl; }
    const std::string& GetFolder() const { return m_folder; }
    int IsInProgress() const { return m_nInProgress; }
    int GetAttemptsLeft() const { return m_nAttemptsLeft; }

private:
    // The update list's record has neither hash, name nor folder.
    bool IsUpdateList() const { return !m_hashData && m_folder.empty() && m_name.empty(); }
    const std::string& CurrentUrl() const;
    // The update list, once its signature came and holds.
    uint32_t StoreSignedList();

    IDownloadFileEventListener* m_pOwner = nullptr;
    void* m_cookie = nullptr;
    std::string m_fileUrl;
    std::string m_hashUrl; // emptied once the hash data is stored
    std::string m_signatureUrl;
    std::string m_folder; // with its trailing "\"
    std::string m_name;
    int m_nLastKind = PROGRESS_URL_NONE;
    bool m_bMore = false; // another address follows the body just stored
    std::unique_ptr<CHashData> m_hashData;
    std::vector<unsigned char> m_signature;
    bool m_bHaveSignature = false;
    std::vector<unsigned char> m_list; // the update list while its signature is fetched
    bool m_bHaveList = false;
    int m_nInProgress = 0;
    int m_nUnlimited = 0;
    int m_nAttemptsLeft = 0;
};

#pragma once
// CDownloadFileList: the files of one engine update. It owns their records,
// hands them to sessions one at a time, and takes every body the records do
// not keep themselves: the update list, which it reads into further records,
// and the archives, which it verifies and extracts into their folders.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DownloadFile.h"
#include "IDownloadFileEventListener.h"

class CDownloadFileList : public IDownloadFileEventListener {
public:
    CDownloadFileList() = default;
    ~CDownloadFileList() override;
    CDownloadFileList(const CDownloadFileList&) = delete;
    CDownloadFileList& operator=(const CDownloadFileList&) = delete;

    // Appends a record owned by this list; 0 without a file address or when a
    // record already hands out that address, else 1.
    int AddFile(const char* fileUrl, const char* hashUrl, const char* name, const char* folder);
    // The first record, in list order, that can be taken for a fetch, or null.
    CDownloadFile* AcquireNext();
    // Ends the fetch of the record that hands out the address; the record is
    // destroyed when it is done for good (then 1; else 0).
    int OnFileDone(const char* url, int success);
    void SetUnlimitedAll(int unlimited);
    int HasFiles() const { return m_files.empty() ? 0 : 1; }
    size_t GetCount() const { return m_files.size(); }
    // Destroys every record, the last first.
    void Clear();
    // 1 when the engine's install folder exists or could be created with its
    // missing parents, else 0.
    int CheckInstallFolder() const;
    // 1 for a 7z archive, 2 for a zip archive (told by the extension, in any
    // letter case), 0 for anything else.
    static int GetArchiveType(const char* url);
    // The version the last update list announced; empty before one was read.
    const std::string& GetNewVersion() const { return m_newVersion; }
    // Whether an archive was installed into its folder.
    bool HasInstalled() const { return m_bInstalled; }
    // The record that hands out the address, or null.
    CDownloadFile* FindByUrl(const char* url) const;

    // ---- IDownloadFileEventListener ----
    int OnListData(void* cookie, const void* body, int64_t length) override;
    int OnFileData(void* cookie, const CHashData* hashData, const void* body, int64_t length) override;

private:
    std::vector<std::unique_ptr<CDownloadFile>> m_files;
    std::string m_newVersion;
    bool m_bInstalled = false;
};

#include "DownloadFileList.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "ExtractArchive.h"
#include "FolderPath.h"
#include "IGetPath.h"
#include "StagedInstall.h"
#include "StoreCode.h"
#include "UpdateList.h"
#include "XMLParserOrvane.h"

CDownloadFileList::~CDownloadFileList()
{
    Clear();
}

int CDownloadFileList::AddFile(const char* fileUrl, const char* hashUrl, const char* name, const char* folder)
{
    if (fileUrl == nullptr || FindByUrl(fileUrl) != nullptr)
        return 0;
    auto file = std::make_unique<CDownloadFile>(fileUrl, hashUrl, name, folder);
    file->SetOwner(this, file.get());
    m_files.push_back(std::move(file));
    return 1;
}

CDownloadFile* CDownloadFileList::FindByUrl(const char* url) const
{
    for (const auto& file : m_files) {
        if (file->MatchesUrl(url))
            return file.get();
    }
    return nullptr;
}

CDownloadFile* CDownloadFileList::AcquireNext()
{
    for (const auto& file : m_files) {
        if (CDownloadFile* acquired = file->TryAcquire())
            return acquired;
    }
    return nullptr;
}

int CDownloadFileList::OnFileDone(const char* url, int success)
{
    if (url == nullptr || url[0] == '\0')
        return 0;
    const auto found =
        std::find_if(m_files.begin(), m_files.end(), [url](const auto& file) { return file->MatchesUrl(url) != 0; });
    if (found == m_files.end() || (*found)->Done(success) == 0)
        return 0;
    m_files.erase(found);
    return 1;
}

void CDownloadFileList::SetUnlimitedAll(int unlimited)
{
    for (const auto& file : m_files)
        file->SetUnlimited(unlimited);
}

void CDownloadFileList::Clear()
{
    while (!m_files.empty())
        m_files.pop_back();
}

int CDownloadFileList::CheckInstallFolder() const
{
    std::string folder;
    GetPathProvider().GetInstallFolder(folder);
    return CreateFolderPath(folder.c_str()) ? 1 : 0;
}

int CDownloadFileList::GetArchiveType(const char* url)
{
    if (url == nullptr || url[0] == '\0')
        return kArchiveTypeNone;
    std::string lower = url;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const size_t dot = lower.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return kArchiveTypeNone;
    const std::string extension = lower.substr(dot + 1);
    if (extension == "7z")
        return kArchiveType7z;
    if (extension == "zip")
        return kArchiveTypeZip;
    return kArchiveTypeNone;
}

int CDownloadFileList::OnListData(void* /*cookie*/, const void* body, int64_t length)
{
    if (body == nullptr || length <= 0)
        return kStoreCodeBadArguments;
    if (length > CDownloadFile::kMaxUpdateListLength)
        return kStoreCodeListUnusable;
    CXMLParserOrvane parser;
    {
        const std::string text(static_cast<const char*>(body), static_cast<size_t>(length));
        parser.Parse(text.c_str());
    }
    if (CheckInstallFolder() == 0)
        return kStoreCodeNoInstallFolder;
    std::vector<UpdateRecord> records;
    const int code = ReadUpdateList(parser, m_newVersion, records);
    if (code != kStoreCodeStored)
        return code;
    for (const UpdateRecord& record : records) {
        if (AddFile(record.fileUrl.c_str(), record.hashUrl.c_str(), record.name.c_str(), record.folder.c_str()) == 0)
            return kStoreCodeListUnusable;
    }
    return kStoreCodeStored;
}

int CDownloadFileList::OnFileData(void* cookie, const CHashData* hashData, const void* body, int64_t length)
{
    if (body == nullptr || length <= 0 || cookie == nullptr)
        return kStoreCodeBadArguments;
    const auto* archive = static_cast<const unsigned char*>(body);
    // No archive is taken without its whole chunk list: a missing hash file,
    // or one that leaves chunks out, checks nothing.
    if (hashData == nullptr || !HashCoversArchive(*hashData, length))
        return kStoreCodeNoHash;
    if (VerifyArchiveHash(hashData, archive, length) == 0)
        return kStoreCodeHashMismatch;
    const auto* file = static_cast<const CDownloadFile*>(cookie);
    const int code =
        InstallArchive(GetArchiveType(file->GetFileUrl().c_str()), archive, length, file->GetFolder().c_str());
    if (code == kStoreCodeStored)
        m_bInstalled = true;
    return code;
}

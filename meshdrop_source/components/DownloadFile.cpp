#include "DownloadFile.h"

#include "StoreCode.h"

namespace {

bool IsSet(const char* text)
{
    return text != nullptr && text[0] != '\0';
}

} // namespace

CDownloadFile::CDownloadFile(const char* fileUrl, const char* hashUrl, const char* name, const char* folder)
{
    if (!IsSet(fileUrl))
        return;
    m_fileUrl = fileUrl;
    if (IsSet(hashUrl)) {
        m_hashUrl = hashUrl;
        m_hashData = std::make_unique<CHashData>();
    }
    if (IsSet(name))
        m_name = name;
    if (IsSet(folder))
        m_folder = folder;
    m_nAttemptsLeft = kAttempts;
}

void CDownloadFile::SetOwner(IDownloadFileEventListener* owner, void* cookie)
{
    m_pOwner = owner;
    m_cookie = cookie;
}

int CDownloadFile::GetUrl(std::string& url)
{
    url = CurrentUrl();
    return 1;
}

int CDownloadFile::IsFinished()
{
    return m_nLastKind == PROGRESS_URL_HASH ? 0 : 1;
}

uint32_t CDownloadFile::StoreData(const char* url, const void* body, int64_t length, uint32_t* kind)
{
    if (url == nullptr || body == nullptr || length <= 0 || kind == nullptr)
        return kStoreCodeBadArguments;
    if (IsUpdateList()) {
        m_nLastKind = PROGRESS_URL_UPDATE_LIST;
        *kind = PROGRESS_URL_UPDATE_LIST;
        if (m_pOwner == nullptr)
            return kStoreCodeBadArguments;
        return static_cast<uint32_t>(m_pOwner->OnListData(m_cookie, body, length));
    }
    if (!m_hashUrl.empty() && m_hashUrl == url) {
        m_nLastKind = PROGRESS_URL_HASH;
        *kind = PROGRESS_URL_HASH;
        if (!m_hashData)
            return kStoreCodeForeignUrl;
        m_hashUrl.clear();
        const auto* bytes = static_cast<const unsigned char*>(body);
        m_hashData->bytes.assign(bytes, bytes + static_cast<uint32_t>(length));
        return kStoreCodeStored;
    }
    if (!m_fileUrl.empty() && m_fileUrl == url) {
        m_nLastKind = PROGRESS_URL_FILE;
        *kind = PROGRESS_URL_FILE;
        if (m_pOwner == nullptr)
            return kStoreCodeBadArguments;
        return static_cast<uint32_t>(m_pOwner->OnFileData(m_cookie, m_hashData.get(), body, length));
    }
    return kStoreCodeForeignUrl;
}

int CDownloadFile::GetUrlKind(const char* url)
{
    if (!IsSet(url))
        return PROGRESS_URL_NONE;
    if (IsUpdateList())
        return PROGRESS_URL_UPDATE_LIST;
    if (m_hashUrl == url)
        return PROGRESS_URL_HASH;
    if (m_fileUrl == url)
        return PROGRESS_URL_FILE;
    return PROGRESS_URL_NONE;
}

int CDownloadFile::MatchesUrl(const char* url) const
{
    return url != nullptr && CurrentUrl() == url ? 1 : 0;
}

CDownloadFile* CDownloadFile::TryAcquire()
{
    if (m_nInProgress != 0)
        return nullptr;
    if (m_nUnlimited == 0 && --m_nAttemptsLeft < 0)
        return nullptr;
    m_nInProgress = 1;
    return this;
}

int CDownloadFile::Done(int success)
{
    m_nInProgress = 0;
    if (success != 0)
        return 1;
    if (!m_hashUrl.empty()) {
        m_hashUrl.clear();
        m_hashData.reset();
        return 0;
    }
    return m_nAttemptsLeft <= 0 ? 1 : 0;
}

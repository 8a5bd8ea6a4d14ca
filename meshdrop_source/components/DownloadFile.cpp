#include "DownloadFile.h"

#include <algorithm>

#include "SignatureCheck.h"
#include "StoreCode.h"
#include "UpdateSignature.h"

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
    m_signatureUrl = m_fileUrl + kUpdateSignatureSuffix;
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

const std::string& CDownloadFile::CurrentUrl() const
{
    // The list comes first (its signature is checked against the bytes kept);
    // an archive comes last, so that it is checked as it arrives.
    if (IsUpdateList())
        return m_bHaveList ? m_signatureUrl : m_fileUrl;
    if (!m_hashUrl.empty())
        return m_hashUrl;
    return m_bHaveSignature ? m_fileUrl : m_signatureUrl;
}

int CDownloadFile::GetUrl(std::string& url)
{
    url = CurrentUrl();
    return 1;
}

int CDownloadFile::IsFinished()
{
    return m_bMore ? 0 : 1;
}

uint32_t CDownloadFile::StoreData(const char* url, const void* body, int64_t length, uint32_t* kind)
{
    if (url == nullptr || body == nullptr || length <= 0 || kind == nullptr)
        return kStoreCodeBadArguments;
    m_bMore = false;
    const auto* bytes = static_cast<const unsigned char*>(body);
    if (!m_bHaveSignature && !m_signatureUrl.empty() && m_signatureUrl == url) {
        // More than a signature's bytes is no signature: one byte too many
        // is kept, so that the check fails.
        m_signature.assign(bytes, bytes + std::min<int64_t>(length, kEd25519SignatureSize + 1));
        m_bHaveSignature = true;
        if (IsUpdateList()) {
            m_nLastKind = PROGRESS_URL_UPDATE_LIST;
            *kind = PROGRESS_URL_UPDATE_LIST;
            return StoreSignedList();
        }
        m_nLastKind = PROGRESS_URL_SIGNATURE;
        *kind = PROGRESS_URL_SIGNATURE;
        m_bMore = true;
        return kStoreCodeStored;
    }
    if (IsUpdateList()) {
        m_nLastKind = PROGRESS_URL_UPDATE_LIST;
        *kind = PROGRESS_URL_UPDATE_LIST;
        if (length > kMaxUpdateListLength)
            return kStoreCodeListUnusable;
        m_list.assign(bytes, bytes + length);
        m_bHaveList = true;
        m_bMore = true;
        return kStoreCodeStored;
    }
    if (!m_hashUrl.empty() && m_hashUrl == url) {
        m_nLastKind = PROGRESS_URL_HASH;
        *kind = PROGRESS_URL_HASH;
        if (!m_hashData)
            return kStoreCodeForeignUrl;
        m_hashUrl.clear();
        m_hashData->bytes.assign(bytes, bytes + static_cast<uint32_t>(length));
        m_bMore = true;
        return kStoreCodeStored;
    }
    if (!m_fileUrl.empty() && m_fileUrl == url) {
        m_nLastKind = PROGRESS_URL_FILE;
        *kind = PROGRESS_URL_FILE;
        if (m_pOwner == nullptr)
            return kStoreCodeBadArguments;
        if (!VerifyUpdateSignature(body, static_cast<size_t>(length), m_signature))
            return kStoreCodeBadSignature;
        return static_cast<uint32_t>(m_pOwner->OnFileData(m_cookie, m_hashData.get(), body, length));
    }
    return kStoreCodeForeignUrl;
}

uint32_t CDownloadFile::StoreSignedList()
{
    if (m_pOwner == nullptr)
        return kStoreCodeBadArguments;
    if (!VerifyUpdateSignature(m_list.data(), m_list.size(), m_signature))
        return kStoreCodeBadSignature;
    return static_cast<uint32_t>(m_pOwner->OnListData(m_cookie, m_list.data(), static_cast<int64_t>(m_list.size())));
}

int CDownloadFile::GetUrlKind(const char* url)
{
    if (!IsSet(url))
        return PROGRESS_URL_NONE;
    if (IsUpdateList())
        return PROGRESS_URL_UPDATE_LIST;
    if (m_hashUrl == url)
        return PROGRESS_URL_HASH;
    if (!m_bHaveSignature && m_signatureUrl == url)
        return PROGRESS_URL_SIGNATURE;
    if (m_fileUrl == url)
        return PROGRESS_URL_FILE;
    return PROGRESS_URL_NONE;
}

int CDownloadFile::MatchesUrl(const char* url) const
{
    return url != nullptr && CurrentUrl() == url ? 1 : 0;
}

bool CDownloadFile::IsProofUrl(const char* url) const
{
    return IsSet(url) && (m_hashUrl == url || (!m_bHaveSignature && m_signatureUrl == url));
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
    // The update list and its signature are taken again together; an
    // archive's hash and signature stay for its next attempt.
    if (IsUpdateList()) {
        m_list.clear();
        m_bHaveList = false;
        m_bHaveSignature = false;
    }
    return m_nAttemptsLeft <= 0 ? 1 : 0;
}

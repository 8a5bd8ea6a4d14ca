#include "CurlMulti.h"

#include "Transfer.h"

namespace engine {

CurlMulti::CurlMulti() : m_multi(curl_multi_init())
{
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 64L);
}

CurlMulti::~CurlMulti()
{
    curl_multi_cleanup(m_multi);
}

bool CurlMulti::Add(Transfer& transfer)
{
    return curl_multi_add_handle(m_multi, transfer.Handle()) == CURLM_OK;
}

void CurlMulti::Remove(Transfer& transfer)
{
    curl_multi_remove_handle(m_multi, transfer.Handle());
}

void CurlMulti::Poll(std::vector<curl_waitfd>& extra, int timeoutMs)
{
    for (curl_waitfd& fd : extra) {
        fd.revents = 0;
    }
    curl_multi_poll(m_multi, extra.data(), static_cast<unsigned>(extra.size()), timeoutMs, nullptr);
}

void CurlMulti::Perform()
{
    curl_multi_perform(m_multi, &m_running);
}

bool CurlMulti::NextFinished(Transfer** transfer, CURLcode* code)
{
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        void* owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        *transfer = static_cast<Transfer*>(owner);
        *code = message->data.result;
        return true;
    }
    return false;
}

} // namespace engine

#include "Lib_SSL/SSLCertificates.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

const SSLCertificateEntry kBuiltInTable[] = {
    {nullptr, nullptr},
};

struct ListedCertificate {
    std::string name;
    X509* certificate;
};

std::mutex g_mutex;
std::vector<ListedCertificate> g_list;

X509* ReadPem(const char* pem)
{
    if (!pem) {
        return nullptr;
    }
    BIO* bio = BIO_new_mem_buf(pem, -1);
    if (!bio) {
        return nullptr;
    }
    X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return certificate;
}

bool IsListed(const std::string& name, const X509* certificate)
{
    for (const ListedCertificate& listed : g_list) {
        if (listed.name == name && X509_cmp(listed.certificate, certificate) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

const SSLCertificateEntry* SSLCertificates::BuiltInTable()
{
    return kBuiltInTable;
}

int SSLCertificates::Install(const SSLCertificateEntry* table, SSLLogWriter log)
{
    int added = 0;
    for (const SSLCertificateEntry* entry = table; entry && entry->name; ++entry) {
        X509* certificate = ReadPem(entry->pem);
        if (!certificate) {
            continue;
        }
        std::string name(entry->name);
        name.resize(std::min(name.size(), kNameMax));
        {
            std::lock_guard lock(g_mutex);
            if (IsListed(name, certificate)) {
                X509_free(certificate);
                continue;
            }
            g_list.push_back({name, certificate});
        }
        ++added;
        if (log) {
            // The log writer ends the line itself.
            char line[kNameMax + 64];
            std::snprintf(line, sizeof line, "Add Certificate Ok - %s", name.c_str());
            log(line);
        }
    }
    return added;
}

int SSLCertificates::AddTrusted(X509_STORE* store, const char* hostName)
{
    if (!store || !hostName) {
        return 0;
    }
    int added = 0;
    std::lock_guard lock(g_mutex);
    for (const ListedCertificate& listed : g_list) {
        if (strcasecmp(listed.name.c_str(), hostName) == 0 && X509_STORE_add_cert(store, listed.certificate) == 1) {
            ++added;
        }
    }
    return added;
}

std::size_t SSLCertificates::GetCount()
{
    std::lock_guard lock(g_mutex);
    return g_list.size();
}

void SSLCertificates::FreeAll()
{
    std::lock_guard lock(g_mutex);
    for (ListedCertificate& listed : g_list) {
        X509_free(listed.certificate);
    }
    g_list.clear();
}

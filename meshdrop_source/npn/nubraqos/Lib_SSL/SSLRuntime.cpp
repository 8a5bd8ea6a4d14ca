#include "Lib_SSL/SSLRuntime.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <mutex>

#include "Lib_SSL/COpenSSL.h"
#include "Lib_SSL/SSLCertificates.h"

namespace {

std::mutex g_mutex;
int g_startCount = 0;
int g_methodUsers = 0; // running start-ups and connections holding the method
BIO_METHOD* g_bioMethod = nullptr;

// Under g_mutex.
void DropMethodUser()
{
    if (--g_methodUsers == 0) {
        BIO_meth_free(g_bioMethod);
        g_bioMethod = nullptr;
    }
}

BIO_METHOD* MakeBioMethod()
{
    BIO_METHOD* method = BIO_meth_new(0, SSLRuntime::kBioName);
    if (!method) {
        return nullptr;
    }
    if (BIO_meth_set_write(method, &COpenSSL::BioWrite) != 1 || BIO_meth_set_read(method, &COpenSSL::BioRead) != 1 ||
        BIO_meth_set_puts(method, &COpenSSL::BioPuts) != 1 || BIO_meth_set_ctrl(method, &COpenSSL::BioCtrl) != 1 ||
        BIO_meth_set_create(method, &COpenSSL::BioCreate) != 1 ||
        BIO_meth_set_destroy(method, &COpenSSL::BioDestroy) != 1) {
        BIO_meth_free(method);
        return nullptr;
    }
    return method;
}

} // namespace

bool SSLRuntime::Startup()
{
    std::lock_guard lock(g_mutex);
    if (g_startCount > 0) {
        ++g_startCount;
        ++g_methodUsers;
        return true;
    }
    if (OPENSSL_init_ssl(0, nullptr) != 1 ||
        OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1 ||
        OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr) != 1) {
        return false;
    }
    if (!g_bioMethod) {
        g_bioMethod = MakeBioMethod(); // else still held by connections of an earlier runtime
    }
    if (!g_bioMethod) {
        return false;
    }
    ++g_startCount;
    ++g_methodUsers;
    return true;
}

void SSLRuntime::Cleanup()
{
    std::lock_guard lock(g_mutex);
    if (g_startCount == 0) {
        return;
    }
    if (--g_startCount == 0) {
        SSLCertificates::FreeAll();
        // OpenSSL 3 has no FIPS mode switch; taking the FIPS property out of
        // the default fetches is its equivalent of switching the mode off.
        EVP_default_properties_enable_fips(nullptr, 0);
    }
    DropMethodUser();
}

BIO_METHOD* SSLRuntime::AcquireBioMethod()
{
    std::lock_guard lock(g_mutex);
    if (g_startCount == 0 || !g_bioMethod) {
        return nullptr;
    }
    ++g_methodUsers;
    return g_bioMethod;
}

void SSLRuntime::ReleaseBioMethod()
{
    std::lock_guard lock(g_mutex);
    if (g_methodUsers > 0) {
        DropMethodUser();
    }
}

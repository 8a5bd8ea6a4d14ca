#pragma once
// OpenSSL for the network runtime: its start-up (string tables, ciphers,
// digests) and the BIO method "orvane BIO" through which every TLS
// connection's ciphertext passes, and its clean-up. A process may run more than
// one runtime over its life (and, in tests, at once): start-up is counted and
// the last clean-up frees the method and the certificate list.

#include <openssl/bio.h>

class SSLRuntime {
public:
    // Starts OpenSSL and makes the BIO method on the first call; false when
    // OpenSSL or the method cannot be set up (TLS connections then fail).
    static bool Startup();
    // Undoes one successful Startup. The last one frees the certificate list
    // and the BIO method and leaves FIPS mode off.
    static void Cleanup();
    // The BIO method of every TLS connection; null while not started.
    static BIO_METHOD* GetBioMethod();

    static constexpr const char* kBioName = "orvane BIO";
};

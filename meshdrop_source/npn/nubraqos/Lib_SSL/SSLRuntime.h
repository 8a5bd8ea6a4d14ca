#pragma once
// OpenSSL for the network runtime: its start-up (string tables, ciphers,
// digests) and the BIO method "orvane BIO" through which every TLS
// connection's ciphertext passes, and its clean-up. A process may run more than
// one runtime over its life (and, in tests, at once): start-up is counted and
// the last clean-up frees the certificate list. The method lives on while a
// connection still uses it (a runtime cleans up before its connections are
// closed), and is freed with the last of them.

#include <openssl/bio.h>

class SSLRuntime {
public:
    // Starts OpenSSL and makes the BIO method on the first call; false when
    // OpenSSL or the method cannot be set up (TLS connections then fail).
    static bool Startup();
    // Undoes one successful Startup. The last one frees the certificate list
    // and leaves FIPS mode off; the BIO method goes once no connection uses it.
    static void Cleanup();
    // The BIO method for a new connection, which holds it until it calls
    // ReleaseBioMethod; null while not started.
    static BIO_METHOD* AcquireBioMethod();
    static void ReleaseBioMethod();

    static constexpr const char* kBioName = "orvane BIO";
};

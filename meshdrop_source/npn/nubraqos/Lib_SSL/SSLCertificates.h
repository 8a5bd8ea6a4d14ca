#pragma once
// The built-in certificate table and the process-wide list of the
// certificates that parsed from it. A listed certificate is trusted, beside the
// system's trust store, for connections to the host it is listed under.

#include <openssl/types.h>

#include <cstddef>

// One entry of a certificate table: the host name it is for and its PEM text.
// A table ends with an entry whose name is null.
struct SSLCertificateEntry {
    const char* name;
    const char* pem;
};

// Receives the runtime's log lines.
using SSLLogWriter = void (*)(const char* line);

class SSLCertificates {
public:
    // The table built into the program: empty.
    static const SSLCertificateEntry* BuiltInTable();
    // Reads every entry's PEM text and lists each certificate that parses
    // under its name (cut to 255 bytes), writing "Add Certificate Ok - <name>"
    // for it. An entry already listed with the same certificate is skipped.
    // Answers the number of certificates added.
    static int Install(const SSLCertificateEntry* table, SSLLogWriter log);
    // Adds the listed certificates whose name is `hostName` (ASCII case
    // ignored) to `store` as trusted; answers how many were added.
    static int AddTrusted(X509_STORE* store, const char* hostName);
    static std::size_t GetCount();
    // Frees every listed certificate.
    static void FreeAll();

    static constexpr std::size_t kNameMax = 255;
};

#include "TestCertificates.h"

#include <cstdlib>
#include <fstream>

namespace testsupport {

TestCertificates::TestCertificates()
{
    authority_ = dir_.file("ca.crt");
    authorityKey_ = dir_.file("ca.key");
    run("the authority", "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 -subj "
                         "'/CN=Meshdrop Test CA' -keyout '" +
                             authorityKey_ + "' -out '" + authority_ + "'");
}

bool TestCertificates::run(const std::string& what, const std::string& arguments)
{
    const std::string log = dir_.file("openssl.log");
    const std::string command = "openssl " + arguments + " >>'" + log + "' 2>&1";
    if (std::system(command.c_str()) == 0)
        return true;
    std::ifstream in(log);
    error_ = "openssl failed making " + what + ": " + std::string(std::istreambuf_iterator<char>(in), {});
    return false;
}

ServerCertificate TestCertificates::issue(const std::string& name, const std::string& altNames, int days)
{
    const std::string base = dir_.file("server" + std::to_string(++issued_));
    ServerCertificate made{base + ".crt", base + ".key"};
    std::ofstream(base + ".ext") << "subjectAltName=" << altNames << "\n"
                                 << "extendedKeyUsage=serverAuth\n";
    const bool ok =
        run("a request for " + name, "req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=" + name +
                                         "' -keyout '" + made.key + "' -out '" + base + ".csr'") &&
        run("the certificate for " + name, "x509 -req -in '" + base + ".csr' -CA '" + authority_ + "' -CAkey '" +
                                               authorityKey_ + "' -CAcreateserial -days " + std::to_string(days) +
                                               " -extfile '" + base + ".ext' -out '" + made.certificate + "'");
    return ok ? made : ServerCertificate{};
}

void TestCertificates::trustInThisProcess() const
{
    setenv("SSL_CERT_FILE", authority_.c_str(), 1);
    // An empty folder: the system's certificate folder must not add trust.
    setenv("SSL_CERT_DIR", dir_.path().c_str(), 1);
}

} // namespace testsupport

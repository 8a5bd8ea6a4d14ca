#pragma once
// A PostgreSQL cluster of the tests' own, from Debian's server programs:
// initdb into a temporary folder, postgres on a loopback port it picks and a
// unix socket in that folder, trust authentication for the role "meshdrop".
// PostgreSQL refuses to run as root: under root (CI) the server runs as the
// unprivileged user 65534, which owns the folder.
//
// A test program shares one cluster: CTest starts it as a fixture
// (postgres_test_cluster, meshdrop_add_test(... POSTGRES)) and names its
// state file in MESHDROP_TEST_POSTGRES; a program started by hand starts one
// for its own life. Each test takes a database of its own.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class PostgresCluster {
public:
    PostgresCluster() = default;
    // Stops the cluster when this object started it.
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // initdb and start; `durable` keeps fsync on (benchmarks), tests run
    // without it. False with the reason in error().
    bool start(bool durable = false);
    void stop();
    // Uses a cluster another process started and described with saveState;
    // with `own`, stop() stops it.
    bool adopt(const std::string& stateFile, bool own = false);
    bool saveState(const std::string& stateFile) const;
    // Leaves the cluster running when this object goes.
    void release() { owned_ = false; }

    uint16_t port() const { return port_; }
    std::string uri(const std::string& database = "postgres") const;
    // Creates an empty database named after `prefix` (and made unique);
    // its URI, or empty with the reason in error().
    std::string newDatabase(const std::string& prefix);
    const std::string& error() const { return error_; }
    // The path of one of the server's programs (pgbench, psql...).
    static std::string program(const std::string& name);

    // The cluster of this test program (see above); null with the reason
    // in sharedError() when none can be had.
    static PostgresCluster* shared();
    static const std::string& sharedError();

private:
    // Runs a server program (as the unprivileged user under root); its
    // exit status, output in the folder's log.
    int run(const std::string& program, const std::vector<std::string>& arguments) const;

    std::string folder_;
    uint16_t port_ = 0;
    bool owned_ = false;
    std::string error_;
};

} // namespace testsupport

// The PostgreSQL cluster of one test program, as a CTest fixture:
//   postgres_test_cluster start STATE   initdb, start, describe it in STATE
//   postgres_test_cluster stop STATE    stop it and remove its folder
#include <cstdio>
#include <cstring>
#include <string>

#include "PostgresCluster.h"

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "start") != 0 && std::strcmp(argv[1], "stop") != 0)) {
        std::fprintf(stderr, "usage: postgres_test_cluster start|stop STATE\n");
        return 2;
    }
    const std::string state = argv[2];
    testsupport::PostgresCluster cluster;
    // A cluster an interrupted run left behind goes first.
    if (cluster.adopt(state, true)) {
        cluster.stop();
        std::remove(state.c_str());
    }
    if (std::strcmp(argv[1], "stop") == 0)
        return 0;
    testsupport::PostgresCluster fresh;
    if (!fresh.start() || !fresh.saveState(state)) {
        std::fprintf(stderr, "postgres_test_cluster: %s\n", fresh.error().c_str());
        return 1;
    }
    fresh.release();
    std::printf("postgres_test_cluster: port %u\n", fresh.port());
    return 0;
}

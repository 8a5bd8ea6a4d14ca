// publisher_server: generates a sample package and the engine update and
// serves them on 127.0.0.1, or on the address --address gives (of either
// family: "::1" serves IPv6 only).
//
//   publisher_server [--port N] [--mirror-port N] [--sizes 6M,4M,2M] [--rate BYTES]
//                    [--root DIR] [--address ADDR] [--host NAME] [--log]
//                    [--update-version V] [--update-archive zip|7z] [--update-files 1|2]
//                    [--update-fault FAULT] [--update-signing-key FILE]
//
// The file list and the update list name the server by --host, by default
// the listening address (an IPv6 one in brackets). The update list offers the
// built engine's version unless --update-version names another;
// --update-files 2 lists the engine's notes beside the program, so that the
// archive of all files is taken. The list and every archive are signed
// ("<name>.sig") with the Ed25519 private key in FILE (PEM), by default the
// build's development key; an empty FILE signs nothing. FAULT: none,
// wrong-hash, broken-archive, no-list, no-hash, short-hash, no-hash-entry,
// foreign-signature, no-list-signature, half-broken.
//
// Prints one line "publisher_server ready port=P mirror_port=M root=DIR" once
// both ports accept connections, then serves until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "EngineUpdate.h"
#include "HttpFileServer.h"
#include "SamplePackage.h"

using namespace publisher;

namespace {

void usage()
{
    fprintf(stderr, "usage: publisher_server [--port N] [--mirror-port N] [--sizes 6M,4M,2M] [--rate BYTES]\n"
                    "                        [--root DIR] [--address ADDR] [--host NAME] [--log]\n"
                    "                        [--update-version V] [--update-archive zip|7z] [--update-files 1|2]\n"
                    "                        [--update-fault FAULT] [--update-signing-key FILE]\n"
                    "FAULT: none, wrong-hash, broken-archive, no-list, no-hash, short-hash, no-hash-entry,\n"
                    "       foreign-signature, no-list-signature, half-broken\n");
}

bool parsePort(const char* text, uint16_t& out)
{
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < 0 || v > 65535)
        return false;
    out = static_cast<uint16_t>(v);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    uint16_t port = 18080, mirrorPort = 18081;
    std::string sizes = "6M,4M,2M", root, address = "127.0.0.1", host;
    uint64_t rate = 0;
    bool log = false;
    UpdateOptions update;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true;
        if (a == "--log") {
            log = true;
            continue;
        } else if (!v) {
            ok = false;
        } else if (a == "--port") {
            ok = parsePort(v, port);
        } else if (a == "--mirror-port") {
            ok = parsePort(v, mirrorPort);
        } else if (a == "--sizes") {
            sizes = v;
        } else if (a == "--rate") {
            ok = parseSize(v, rate);
        } else if (a == "--root") {
            root = v;
        } else if (a == "--address") {
            address = v;
        } else if (a == "--host") {
            host = v;
        } else if (a == "--update-version") {
            update.version = v;
        } else if (a == "--update-archive") {
            update.archiveType = v;
            ok = update.archiveType == "zip" || update.archiveType == "7z";
        } else if (a == "--update-files") {
            update.listNotes = std::string(v) == "2";
            ok = update.listNotes || std::string(v) == "1";
        } else if (a == "--update-fault") {
            ok = parseUpdateFault(v, update.fault);
        } else if (a == "--update-signing-key") {
            update.signingKey = v;
        } else {
            ok = false;
        }
        if (!ok) {
            usage();
            return 2;
        }
        ++i;
    }

    PackageOptions package;
    for (size_t pos = 0; pos <= sizes.size();) {
        size_t comma = sizes.find(',', pos);
        std::string item = sizes.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        uint64_t size = 0;
        if (!parseSize(item, size) || size == 0) {
            fprintf(stderr, "publisher_server: bad size '%s'\n", item.c_str());
            return 2;
        }
        package.sizes.push_back(size);
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    if (root.empty()) {
        // A fresh folder of this user's, not a name another user could guess
        // and prepare.
        std::string pattern = (std::filesystem::temp_directory_path() / "meshdrop-publisher-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            fprintf(stderr, "publisher_server: cannot make a folder for the package: %s\n", strerror(errno));
            return 1;
        }
        root = pattern;
    }

    // Block the stop signals before any thread starts, so that only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    HttpFileServer server({root, rate, log});
    package.port = server.listenOn(port, address);
    package.mirrorPort = package.port ? server.listenOn(mirrorPort, address) : 0;
    if (!package.port || !package.mirrorPort) {
        fprintf(stderr, "publisher_server: cannot listen on %s:%u/%u: %s\n", address.c_str(), port, mirrorPort,
                strerror(errno));
        return 1;
    }
    if (host.empty())
        host = address.find(':') == std::string::npos ? address : "[" + address + "]";
    package.root = root;
    package.host = host;
    Package generated;
    std::string error;
    if (!generatePackage(package, generated, error)) {
        fprintf(stderr, "publisher_server: %s\n", error.c_str());
        return 1;
    }
    update.root = root;
    update.host = host;
    update.port = package.port;
    // Without the update files of a build (a copy of the program elsewhere),
    // the package is still served; the update list is then missing (404).
    if (!generateEngineUpdate(update, error))
        fprintf(stderr, "publisher_server: no engine update: %s\n", error.c_str());
    printf("publisher_server ready port=%u mirror_port=%u root=%s\n", package.port, package.mirrorPort, root.c_str());
    fflush(stdout);
    int sig = 0;
    sigwait(&stop, &sig);
    return 0;
}

#pragma once
// The sample package the publisher server offers: package files of chosen
// sizes, an installer, the file list naming them (one entry with two mirrors)
// and the banner picture, generated into a folder that is then served.
#include <cstdint>
#include <string>
#include <vector>

namespace publisher {

inline constexpr const char* kPackageFolder = "/download/tharnel/qlsdownload/";
inline constexpr const char* kFileListPath = "/download/tharnel/qlsdownload/filelist.txt";
inline constexpr const char* kBannerPath = "/download/tharnel/qlsdownload/tharnel.gif";

struct PackageOptions {
    std::string root;               // folder that receives the files
    std::string host = "127.0.0.1"; // host written into the file list
    uint16_t port = 0;              // main port
    uint16_t mirrorPort = 0;        // second port: the first file's first mirror
    std::vector<uint64_t> sizes;    // one package file per size
};

struct PackageFile {
    std::string urlPath; // path on the server
    std::string localPath;
    uint64_t size = 0;
};

struct Package {
    std::vector<PackageFile> files; // package files, then the installer
    std::string fileListText;
};

// Writes the package into options.root; false with a reason in error when a
// file cannot be written.
bool generatePackage(const PackageOptions& options, Package& out, std::string& error);

// The bytes of package file number index (from 0) at offset: the same for every
// run, so a test can check a download without keeping a copy.
void fillPackageBytes(unsigned index, uint64_t offset, char* data, size_t length);

// Parses "123", "64K", "8M", "1G" (powers of 1024); false when malformed.
bool parseSize(const std::string& text, uint64_t& out);

} // namespace publisher

#include "SamplePackage.h"

#include <cmath>
#include <filesystem>
#include <fstream>

#include "GifWriter.h"

namespace publisher {

namespace {

// A cheap generator keyed by (file, position): every 8-byte word is a mix of
// the two, so any range can be produced without producing what precedes it.
uint64_t mix(uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

bool writeWhole(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool writePackageFile(unsigned index, const std::string& path, uint64_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> chunk(1 << 20);
    for (uint64_t off = 0; off < size && out; off += chunk.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - off));
        fillPackageBytes(index, off, chunk.data(), n);
        out.write(chunk.data(), static_cast<std::streamsize>(n));
    }
    return static_cast<bool>(out);
}

// The installer: a script that records that it ran (next to itself, or where
// MESHDROP_SETUP_MARKER says), tells its starter that it is ready for input by
// closing the readiness pipe, and ends.
const char* kInstallerScript = "#!/bin/sh\n"
                               "# Sample installer of the publisher server: records that it ran.\n"
                               "marker=\"${MESHDROP_SETUP_MARKER:-$(dirname \"$0\")/setup.ran}\"\n"
                               "echo \"setup ran from $0 at $(date)\" >> \"$marker\"\n"
                               "if [ -n \"$MESHDROP_READY_FD\" ]; then eval \"exec $MESHDROP_READY_FD>&-\"; fi\n"
                               "exit 0\n";

// The banner: a dark panel with a band of light sweeping across it.
std::string makeBanner()
{
    constexpr uint16_t w = 383, h = 442;
    std::vector<Rgb> palette;
    for (int i = 0; i < 128; ++i) // dark blue-grey ramp
        palette.push_back(
            {static_cast<uint8_t>(20 + i / 4), static_cast<uint8_t>(26 + i / 3), static_cast<uint8_t>(40 + i / 2)});
    for (int i = 0; i < 128; ++i) // gold ramp for the band
        palette.push_back(
            {static_cast<uint8_t>(120 + i), static_cast<uint8_t>(90 + i), static_cast<uint8_t>(20 + i / 4)});
    std::vector<GifFrame> frames;
    constexpr int kFrames = 4;
    for (int f = 0; f < kFrames; ++f) {
        GifFrame frame;
        frame.pixels.resize(size_t{w} * h);
        double centre = (f + 0.5) * (w + h) / kFrames;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                double d = std::fabs((x + y) - centre);
                uint8_t base = static_cast<uint8_t>(y * 127 / h);
                uint8_t v = d < 40 ? static_cast<uint8_t>(128 + (40 - d) * 127 / 40) : base;
                frame.pixels[size_t(y) * w + x] = v;
            }
        }
        frame.delayCentiseconds = 25;
        frames.push_back(std::move(frame));
    }
    return writeGif(w, h, palette, frames);
}

} // namespace

void fillPackageBytes(unsigned index, uint64_t offset, char* data, size_t length)
{
    for (size_t i = 0; i < length;) {
        uint64_t pos = offset + i;
        uint64_t word = mix((uint64_t{index} << 48) ^ (pos / 8) ^ 0x9e3779b97f4a7c15ULL);
        for (size_t k = pos % 8; k < 8 && i < length; ++k, ++i)
            data[i] = static_cast<char>(word >> (8 * k));
    }
}

bool parseSize(const std::string& text, uint64_t& out)
{
    if (text.empty())
        return false;
    uint64_t v = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (v > (UINT64_MAX - 9) / 10)
            return false;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (i == 0)
        return false;
    uint64_t unit = 1;
    if (i < text.size()) {
        switch (text[i]) {
        case 'K':
        case 'k':
            unit = 1ULL << 10;
            break;
        case 'M':
        case 'm':
            unit = 1ULL << 20;
            break;
        case 'G':
        case 'g':
            unit = 1ULL << 30;
            break;
        default:
            return false;
        }
        if (i + 1 != text.size())
            return false;
    }
    if (v > UINT64_MAX / unit)
        return false;
    out = v * unit;
    return true;
}

bool generatePackage(const PackageOptions& o, Package& out, std::string& error)
{
    namespace fs = std::filesystem;
    const std::string folder = o.root + kPackageFolder;
    std::error_code ec;
    fs::create_directories(folder + "package", ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return false;
    }
    const std::string base = "http://" + o.host + ":" + std::to_string(o.port);
    const std::string mirror = "http://" + o.host + ":" + std::to_string(o.mirrorPort);
    out = {};
    for (size_t i = 0; i < o.sizes.size(); ++i) {
        char name[48];
        snprintf(name, sizeof name, "veilrune_%02zu.pak", i + 1);
        PackageFile f{std::string(kPackageFolder) + "package/" + name, folder + "package/" + name, o.sizes[i]};
        if (!writePackageFile(static_cast<unsigned>(i), f.localPath, f.size)) {
            error = "cannot write " + f.localPath;
            return false;
        }
        out.fileListText += (i == 0 ? mirror + f.urlPath + "|" : std::string()) + base + f.urlPath + "\r\n";
        out.files.push_back(f);
    }
    PackageFile setup{std::string(kPackageFolder) + "package/setup.exe", folder + "package/setup.exe",
                      std::char_traits<char>::length(kInstallerScript)};
    if (!writeWhole(setup.localPath, kInstallerScript)) {
        error = "cannot write " + setup.localPath;
        return false;
    }
    // The installer comes without the execute bit, as a download does.
    fs::permissions(setup.localPath,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                    ec);
    out.fileListText += base + setup.urlPath + "\r\n";
    out.files.push_back(setup);
    if (!writeWhole(o.root + kFileListPath, out.fileListText) || !writeWhole(o.root + kBannerPath, makeBanner())) {
        error = "cannot write the file list or the banner under " + folder;
        return false;
    }
    return true;
}

} // namespace publisher

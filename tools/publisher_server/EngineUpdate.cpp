#include "EngineUpdate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "ArchiveHash.h"

namespace publisher {

namespace {

namespace fs = std::filesystem;

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

bool readWhole(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in) || in.eof();
}

bool writeWhole(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Key readKey(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return nullptr;
    Key key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    return key && EVP_PKEY_get_id(key.get()) == EVP_PKEY_ED25519 ? std::move(key) : nullptr;
}

// The detached Ed25519 signature of the bytes (64 bytes), or "" on failure.
std::string sign(EVP_PKEY* key, const std::string& bytes)
{
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    std::string signature(64, '\0');
    size_t length = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
        return std::string();
    signature.resize(length);
    return signature;
}

uint32_t le32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

uint16_t le16(const std::string& bytes, size_t at)
{
    return static_cast<uint16_t>(le32(bytes, at) & 0xFFFF);
}

// Damages the data of the zip archive's second entry (its first byte): the
// first entry still extracts, the second fails its check. False when the
// archive has no second entry.
bool breakSecondEntry(std::string& zip)
{
    const size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    if (end == std::string::npos || end + 22 > zip.size())
        return false;
    size_t central = le32(zip, end + 16);
    // The first central record, then the second's local header offset.
    if (central + 46 > zip.size() || le32(zip, central) != 0x02014b50)
        return false;
    central += 46 + le16(zip, central + 28) + le16(zip, central + 30) + le16(zip, central + 32);
    if (central + 46 > zip.size() || le32(zip, central) != 0x02014b50)
        return false;
    const size_t local = le32(zip, central + 42);
    if (local + 30 > zip.size() || le32(zip, local) != 0x04034b50)
        return false;
    const size_t data = local + 30 + le16(zip, local + 26) + le16(zip, local + 28);
    if (data >= zip.size())
        return false;
    zip[data] = static_cast<char>(zip[data] ^ 0xFF);
    return true;
}

std::string chunkList(const std::string& archive)
{
    const std::vector<unsigned char> list = BuildArchiveChunkList(
        reinterpret_cast<const unsigned char*>(archive.data()), static_cast<int64_t>(archive.size()));
    return std::string(list.begin(), list.end());
}

// The keys a served update is signed with: the publisher's for the list,
// and for the archives the publisher's or, as a fault, another one.
struct Signers {
    Key publisher;
    Key archives;
};

// Serves one file and, with a key, its signature.
bool serveSigned(const std::string& path, const std::string& bytes, EVP_PKEY* key, std::string& error)
{
    const std::string signature = key ? sign(key, bytes) : std::string();
    if (!writeWhole(path, bytes) || (key && (signature.empty() || !writeWhole(path + kSignatureSuffix, signature)))) {
        error = "cannot write or sign " + path;
        return false;
    }
    return true;
}

// Serves one archive (with its hash file and signature) under `name` as the
// fault wants it.
bool serveArchive(const UpdateOptions& o, const std::string& name, EVP_PKEY* key, std::string& error)
{
    const std::string built = std::string(ENGINE_UPDATE_DIR) + "/" + name;
    const bool broken = o.fault == UpdateFault::BrokenArchive;
    std::string archive, hash;
    if (!readWhole(broken ? ENGINE_UPDATE_NOTES : built, archive) ||
        !readWhole(broken ? std::string(ENGINE_UPDATE_DIR) + "/broken.hash" : built + ".hash", hash) ||
        archive.empty() || hash.empty()) {
        error = "cannot read the built engine update " + built + " (build the target engine_update_files)";
        return false;
    }
    if (o.fault == UpdateFault::HalfBroken && name.starts_with("qlsdownload_all.")) {
        if (!breakSecondEntry(archive)) {
            error = "the archive " + built + " has no second entry to break (zip only)";
            return false;
        }
        hash = chunkList(archive);
    }
    if (o.fault == UpdateFault::WrongHash)
        hash[0] = static_cast<char>(hash[0] ^ 0xFF);
    if (o.fault == UpdateFault::ShortHash) {
        // Whole digests, but not of every chunk; half a digest for a
        // one-chunk archive.
        const size_t digests = hash.size() / 16;
        hash.resize(digests > 2 ? 16 * (digests - 2) : 8);
    }
    const std::string served = o.root + kUpdateFolder + name;
    std::error_code ec;
    fs::remove(served + ".hash", ec);
    fs::remove(served + kSignatureSuffix, ec);
    if (!serveSigned(served, archive, key, error))
        return false;
    if (o.fault != UpdateFault::NoHash && !writeWhole(served + ".hash", hash)) {
        error = "cannot write " + served + ".hash";
        return false;
    }
    return true;
}

std::string entry(const std::string& name, const std::string& version, const std::string& url, bool hash)
{
    return "<" + name + (version.empty() ? "" : " ver=\"" + version + "\"") + " url=\"" + url + "\"" +
           (hash ? " hash=\"" + url + ".hash\"" : "") + "/>\r\n";
}

// A fresh key that is not the publisher's.
Key otherKey()
{
    return Key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
}

} // namespace

std::string signUpdateFile(const std::string& bytes, const std::string& keyFile)
{
    const Key key = keyFile.empty() ? otherKey() : readKey(keyFile);
    return key ? sign(key.get(), bytes) : std::string();
}

std::string UpdateOptions::defaultSigningKey()
{
    return UPDATE_SIGNING_KEY;
}

std::string builtEngineVersion()
{
    return ENGINE_VERSION;
}

bool parseUpdateFault(const std::string& text, UpdateFault& fault)
{
    static const std::pair<const char*, UpdateFault> kNames[] = {
        {"none", UpdateFault::None},
        {"wrong-hash", UpdateFault::WrongHash},
        {"broken-archive", UpdateFault::BrokenArchive},
        {"no-list", UpdateFault::NoList},
        {"no-hash", UpdateFault::NoHash},
        {"short-hash", UpdateFault::ShortHash},
        {"no-hash-entry", UpdateFault::NoHashEntry},
        {"foreign-signature", UpdateFault::ForeignSignature},
        {"no-list-signature", UpdateFault::NoListSignature},
        {"half-broken", UpdateFault::HalfBroken},
    };
    for (const auto& [name, value] : kNames) {
        if (text == name) {
            fault = value;
            return true;
        }
    }
    return false;
}

bool generateEngineUpdate(const UpdateOptions& o, std::string& error)
{
    if (o.archiveType != "zip" && o.archiveType != "7z") {
        error = "unknown archive type " + o.archiveType;
        return false;
    }
    std::error_code ec;
    fs::create_directories(o.root + kUpdateFolder, ec);
    if (ec) {
        error = "cannot create " + o.root + kUpdateFolder + ": " + ec.message();
        return false;
    }
    Signers signers;
    if (!o.signingKey.empty()) {
        signers.publisher = readKey(o.signingKey);
        if (!signers.publisher) {
            error = "cannot read the Ed25519 signing key " + o.signingKey;
            return false;
        }
        signers.archives = o.fault == UpdateFault::ForeignSignature ? otherKey() : Key();
    }
    EVP_PKEY* archiveKey = signers.archives ? signers.archives.get() : signers.publisher.get();
    const std::string program = std::string("QLSDownloadV32.") + o.archiveType;
    const std::string all = std::string("qlsdownload_all.") + o.archiveType;
    if (!serveArchive(o, program, archiveKey, error) || !serveArchive(o, all, archiveKey, error))
        return false;
    const std::string listPath = o.root + kUpdateListPath;
    fs::remove(listPath + kSignatureSuffix, ec);
    if (o.fault == UpdateFault::NoList) {
        fs::remove(listPath, ec);
        return true;
    }
    const std::string base = "http://" + o.host + ":" + std::to_string(o.port) + kUpdateFolder;
    const std::string version = o.version.empty() ? builtEngineVersion() : o.version;
    const bool hash = o.fault != UpdateFault::NoHashEntry;
    std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<qlsdownload_updater>\r\n<file>\r\n";
    list += entry(kEngineProgramName, version, base + program, hash);
    if (o.listNotes || o.fault == UpdateFault::HalfBroken)
        list += entry(kEngineNotesName, version, base + all, hash);
    list += "</file>\r\n<all>\r\n" + entry("all", "", base + all, hash) + "</all>\r\n</qlsdownload_updater>\r\n";
    return serveSigned(listPath, list, o.fault == UpdateFault::NoListSignature ? nullptr : signers.publisher.get(),
                       error);
}

} // namespace publisher

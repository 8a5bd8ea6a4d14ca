// The records of an engine update and their list, without the network: the
// order of a record's addresses, its attempts, and what the list makes of an
// update list that it cannot use.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "../lib/LibraryLog.h"
#include "../lib/TestDriveC.h"
#include "ArchiveHash.h"
#include "DownloadFile.h"
#include "DownloadFileList.h"
#include "EngineUpdate.h"
#include "IGetPath.h"
#include "StoreCode.h"
#include "TempDir.h"

namespace {

constexpr const char* kArchive = "http://updates.test/engine.zip";
constexpr const char* kHash = "http://updates.test/engine.zip.hash";
constexpr const char* kSignature = "http://updates.test/engine.zip.sig";

// Takes the bodies a record hands on and remembers what came with them.
class BodyReceiver : public IDownloadFileEventListener {
public:
    int OnListData(void* /*cookie*/, const void* body, int64_t length) override
    {
        lists.emplace_back(static_cast<const char*>(body), static_cast<size_t>(length));
        return kStoreCodeStored;
    }
    int OnFileData(void* cookie, const CHashData* hashData, const void* /*body*/, int64_t /*length*/) override
    {
        fileCookie = cookie;
        fileHash = hashData == nullptr ? "none" : std::string(hashData->bytes.begin(), hashData->bytes.end());
        return kStoreCodeHashMismatch;
    }
    std::vector<std::string> lists;
    void* fileCookie = nullptr;
    std::string fileHash;
};

std::string UrlOf(CDownloadFile& file)
{
    std::string url;
    EXPECT_EQ(file.GetUrl(url), 1);
    return url;
}

// Stores a body as a session does: its store code, and the kind in `kind`.
uint32_t Store(CDownloadFile& file, const std::string& url, const std::string& body, uint32_t* kind)
{
    return file.StoreData(url.c_str(), body.data(), static_cast<int64_t>(body.size()), kind);
}

std::string PublisherSignature(const std::string& bytes)
{
    return publisher::signUpdateFile(bytes, publisher::UpdateOptions::defaultSigningKey());
}

TEST(DownloadFileTest, AnArchiveComesAfterItsHashAndSignatureAndOnlyThePublishersIsHandedOn)
{
    BodyReceiver owner;
    CDownloadFile file(kArchive, kHash, "QLSDownloadV32.exe", "C:\\engine\\");
    file.SetOwner(&owner, &file);
    EXPECT_EQ(file.GetUrlKind(kHash), PROGRESS_URL_HASH);
    EXPECT_EQ(file.GetUrlKind(kSignature), PROGRESS_URL_SIGNATURE);
    EXPECT_EQ(file.GetUrlKind(kArchive), PROGRESS_URL_FILE);
    EXPECT_EQ(file.GetUrlKind("http://updates.test/other.zip"), PROGRESS_URL_NONE);
    EXPECT_TRUE(file.IsProofUrl(kHash));
    EXPECT_TRUE(file.IsProofUrl(kSignature));
    EXPECT_FALSE(file.IsProofUrl(kArchive));

    ASSERT_EQ(file.TryAcquire(), &file);
    EXPECT_EQ(file.TryAcquire(), nullptr); // being fetched
    EXPECT_EQ(UrlOf(file), kHash);
    uint32_t kind = 0;
    EXPECT_EQ(Store(file, kHash, "digest", &kind), static_cast<uint32_t>(kStoreCodeStored));
    EXPECT_EQ(kind, static_cast<uint32_t>(PROGRESS_URL_HASH));
    EXPECT_EQ(file.IsFinished(), 0);
    EXPECT_EQ(UrlOf(file), kSignature);
    EXPECT_EQ(Store(file, kSignature, publisher::signUpdateFile("zip", ""), &kind),
              static_cast<uint32_t>(kStoreCodeStored));
    EXPECT_EQ(kind, static_cast<uint32_t>(PROGRESS_URL_SIGNATURE));
    EXPECT_EQ(file.IsFinished(), 0);
    EXPECT_EQ(UrlOf(file), kArchive);
    // Signed by another key: never handed on.
    EXPECT_EQ(Store(file, kArchive, "zip", &kind), static_cast<uint32_t>(kStoreCodeBadSignature));
    EXPECT_EQ(kind, static_cast<uint32_t>(PROGRESS_URL_FILE));
    EXPECT_EQ(file.IsFinished(), 1);
    EXPECT_EQ(owner.fileCookie, nullptr);

    // A failed fetch keeps the hash and signature: the archive alone comes again.
    EXPECT_EQ(file.Done(0), 0);
    EXPECT_EQ(UrlOf(file), kArchive);
    EXPECT_FALSE(file.IsProofUrl(kSignature));
    CDownloadFile signed_(kArchive, kHash, "QLSDownloadV32.exe", "C:\\engine\\");
    signed_.SetOwner(&owner, &signed_);
    (void)Store(signed_, kHash, "digest", &kind);
    (void)Store(signed_, kSignature, PublisherSignature("zip"), &kind);
    EXPECT_EQ(Store(signed_, kArchive, "zip", &kind), static_cast<uint32_t>(kStoreCodeHashMismatch));
    EXPECT_EQ(owner.fileCookie, &signed_);
    EXPECT_EQ(owner.fileHash, "digest");

    // Three fetches in all; the third failure ends the record.
    ASSERT_EQ(file.TryAcquire(), &file);
    EXPECT_EQ(file.Done(0), 0);
    ASSERT_EQ(file.TryAcquire(), &file);
    EXPECT_EQ(file.Done(0), 1);
    EXPECT_EQ(file.TryAcquire(), nullptr);

    // Unlimited attempts are not counted; a success ends the record at once.
    CDownloadFile unlimited(kArchive, nullptr, "QLSDownloadV32.exe", "C:\\engine\\");
    unlimited.SetUnlimited(1);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(unlimited.TryAcquire(), &unlimited);
        EXPECT_EQ(unlimited.Done(0), 0);
    }
    unlimited.SetUnlimited(0);
    ASSERT_EQ(unlimited.TryAcquire(), &unlimited);
    EXPECT_EQ(unlimited.Done(1), 1);
}

TEST(DownloadFileTest, TheUpdateListIsReadOnlyWithThePublishersSignature)
{
    const std::string listUrl = "http://updates.test/list.xml";
    const std::string signatureUrl = listUrl + ".sig";
    BodyReceiver owner;
    // The update list's record has no hash, name or folder: the list comes
    // first, then its signature.
    CDownloadFile list(listUrl.c_str(), nullptr, nullptr, nullptr);
    list.SetOwner(&owner, &list);
    EXPECT_EQ(list.GetUrlKind("http://elsewhere.test/"), PROGRESS_URL_UPDATE_LIST);
    uint32_t kind = 0;
    for (const auto& [signature, code] : {std::pair{std::string("short"), kStoreCodeBadSignature},
                                          std::pair{publisher::signUpdateFile("<x/>", ""), kStoreCodeBadSignature},
                                          std::pair{PublisherSignature("<x/>"), kStoreCodeStored}}) {
        ASSERT_EQ(list.TryAcquire(), &list);
        EXPECT_EQ(UrlOf(list), listUrl);
        EXPECT_EQ(Store(list, listUrl, "<x/>", &kind), static_cast<uint32_t>(kStoreCodeStored));
        EXPECT_EQ(list.IsFinished(), 0);
        EXPECT_EQ(UrlOf(list), signatureUrl);
        EXPECT_TRUE(list.IsProofUrl(signatureUrl.c_str()));
        EXPECT_EQ(Store(list, signatureUrl, signature, &kind), static_cast<uint32_t>(code));
        EXPECT_EQ(kind, static_cast<uint32_t>(PROGRESS_URL_UPDATE_LIST));
        EXPECT_EQ(list.IsFinished(), 1);
        // The session reports the signature's address; the record answers to it.
        EXPECT_EQ(list.MatchesUrl(signatureUrl.c_str()), 1);
        // A failure takes the list and its signature again.
        if (code != kStoreCodeStored) {
            EXPECT_EQ(list.Done(0), 0);
        }
    }
    EXPECT_EQ(owner.lists, std::vector<std::string>{"<x/>"});

    EXPECT_EQ(list.StoreData(listUrl.c_str(), nullptr, 3, &kind), static_cast<uint32_t>(kStoreCodeBadArguments));
    CDownloadFile empty(nullptr, kHash, "name", "C:\\engine\\");
    EXPECT_EQ(UrlOf(empty), "");
    EXPECT_EQ(empty.TryAcquire(), nullptr);
}

TEST(DownloadFileListTest, RecordsAreKeptOncePerAddressUntilTheyAreDone)
{
    EXPECT_EQ(CDownloadFileList::GetArchiveType("http://h/engine.ZIP"), 2);
    EXPECT_EQ(CDownloadFileList::GetArchiveType("http://h/engine.7z"), 1);
    EXPECT_EQ(CDownloadFileList::GetArchiveType("http://h/engine.tar.gz"), 0);
    EXPECT_EQ(CDownloadFileList::GetArchiveType("engine"), 0);
    EXPECT_EQ(CDownloadFileList::GetArchiveType(".zip"), 0);

    CDownloadFileList list;
    EXPECT_EQ(list.AddFile(kArchive, kHash, "QLSDownloadV32.exe", "C:\\engine\\"), 1);
    EXPECT_EQ(list.AddFile(kHash, nullptr, nullptr, nullptr), 0); // a record hands out that address
    EXPECT_EQ(list.AddFile(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(list.AddFile("http://updates.test/list.xml", nullptr, nullptr, nullptr), 1);
    CDownloadFile* first = list.AcquireNext();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetFileUrl(), kArchive);
    CDownloadFile* second = list.AcquireNext();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(list.AcquireNext(), nullptr);
    EXPECT_EQ(list.OnFileDone("", 1), 0);
    EXPECT_EQ(list.OnFileDone(kHash, 0), 0); // the hash fetch failed: the record stays, hash first
    EXPECT_EQ(list.FindByUrl(kHash), first);
    EXPECT_EQ(list.OnFileDone("http://updates.test/list.xml", 1), 1);
    EXPECT_EQ(list.GetCount(), 1u);
}

TEST(DownloadFileListTest, AnArchiveIsCheckedOnlyAgainstItsWholeChunkList)
{
    // Two chunks: their digests (32 bytes), then the root digest (16).
    const std::string archive(static_cast<size_t>(kArchiveHashChunkSize) + 1, 'a');
    const auto* bytes = reinterpret_cast<const unsigned char*>(archive.data());
    const std::vector<unsigned char> chunks = BuildArchiveChunkList(bytes, static_cast<int64_t>(archive.size()));
    ASSERT_EQ(chunks.size(), 48u);
    CDownloadFileList files;
    CDownloadFile record(kArchive, kHash, "QLSDownloadV32.exe", "C:\\engine\\");
    struct Case {
        const char* what;
        size_t kept; // bytes of the chunk list the hash file holds (0: no hash file)
        int code;
    };
    for (const Case& c : {Case{"no hash file", 0, kStoreCodeNoHash}, Case{"the first chunk only", 16, kStoreCodeNoHash},
                          Case{"a digest and a half", 24, kStoreCodeNoHash},
                          Case{"every chunk, one byte wrong", 32, kStoreCodeHashMismatch},
                          Case{"with the root, one byte wrong", 48, kStoreCodeHashMismatch}}) {
        SCOPED_TRACE(c.what);
        CHashData hash{{chunks.begin(), chunks.begin() + static_cast<std::ptrdiff_t>(c.kept)}};
        // The short ones are right as far as they go.
        if (c.code == kStoreCodeHashMismatch)
            hash.bytes[1] ^= 0xFF;
        EXPECT_EQ(files.OnFileData(&record, c.kept == 0 ? nullptr : &hash, bytes, static_cast<int64_t>(archive.size())),
                  c.code);
    }
    EXPECT_FALSE(files.HasInstalled());
}

// The update list's faults, read against the test's roaming folder.
TEST(DownloadFileListTest, AnUnusableUpdateListOrInstallFolderIsReportedAsSuch)
{
    std::string folder;
    GetPathProvider().GetBaseFolder(folder);
    folder.pop_back(); // the company folder itself, without its "\"
    const std::string base = W32PathToPosix(std::string_view(folder));
    std::filesystem::remove_all(base);
    const std::string log = LibraryLog::Prepare();

    const auto parse = [](CDownloadFileList& list, const std::string& text) {
        return list.OnListData(nullptr, text.data(), static_cast<int64_t>(text.size()));
    };
    CDownloadFileList list;
    EXPECT_EQ(parse(list, "<list><file><QLSDownloadV32.exe url=\"http://h/e.zip\"/></file></list>"),
              kStoreCodeListUnusable);
    EXPECT_EQ(list.GetNewVersion(), "");
    // A wanted file without an address: its own entry, then the archive of all.
    EXPECT_EQ(parse(list, "<list><file><QLSDownloadV32.exe ver=\"3.5.0.2\"/></file></list>"), kStoreCodeListUnusable);
    EXPECT_EQ(parse(list, "<list><file><QLSDownloadV32.exe ver=\"3.5.0.2\" url=\"http://h/e.zip\"/><b ver=\"1\"/>"
                          "</file><all><all hash=\"http://h/all.zip.hash\"/></all></list>"),
              kStoreCodeListUnusable);
    EXPECT_EQ(list.GetNewVersion(), "3.5.0.2");
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_EQ(parse(list, std::string(CDownloadFile::kMaxUpdateListLength + 1, ' ')), kStoreCodeListUnusable);
    EXPECT_EQ(list.OnListData(nullptr, nullptr, 5), kStoreCodeBadArguments);
    EXPECT_EQ(LibraryLog::Messages(log),
              (std::vector<std::string>{
                  "[MeshdropLib] Current Version:  / New Version: 3.5.0.2", "[MeshdropLib] Update File (Count: 2)",
                  "[MeshdropLib] Current Version:  / New Version: 3.5.0.2", "[MeshdropLib] Update File (Count: 2)"}));

    // The company folder is a file: no install folder can be made.
    std::filesystem::remove_all(base);
    ASSERT_TRUE(testsupport::writeFile(base, "not a folder"));
    EXPECT_EQ(parse(list, "<list><file><QLSDownloadV32.exe ver=\"3.5.0.2\" url=\"http://h/e.zip\"/></file></list>"),
              kStoreCodeNoInstallFolder);
    EXPECT_EQ(list.GetCount(), 0u);
    std::filesystem::remove(base);
}

} // namespace

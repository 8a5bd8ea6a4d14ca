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
#include "DownloadFile.h"
#include "DownloadFileList.h"
#include "IGetPath.h"
#include "StoreCode.h"
#include "TempDir.h"

namespace {

constexpr const char* kArchive = "http://updates.test/engine.zip";
constexpr const char* kHash = "http://updates.test/engine.zip.hash";

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

TEST(DownloadFileTest, TheHashComesFirstAndTheArchiveIsTriedThreeTimes)
{
    BodyReceiver owner;
    CDownloadFile file(kArchive, kHash, "QLSDownloadV32.exe", "C:\\engine\\");
    file.SetOwner(&owner, &file);
    EXPECT_EQ(file.GetUrlKind(kHash), PROGRESS_URL_HASH);
    EXPECT_EQ(file.GetUrlKind(kArchive), PROGRESS_URL_FILE);
    EXPECT_EQ(file.GetUrlKind("http://updates.test/other.zip"), PROGRESS_URL_NONE);

    ASSERT_EQ(file.TryAcquire(), &file);
    EXPECT_EQ(file.TryAcquire(), nullptr); // being fetched
    EXPECT_EQ(UrlOf(file), kHash);
    uint32_t kind = 0;
    EXPECT_EQ(file.StoreData(kHash, "digest", 6, &kind), static_cast<uint32_t>(kStoreCodeStored));
    EXPECT_EQ(kind, static_cast<uint32_t>(PROGRESS_URL_HASH));
    EXPECT_EQ(file.IsFinished(), 0);
    EXPECT_EQ(UrlOf(file), kArchive);
    EXPECT_EQ(file.StoreData(kArchive, "zip", 3, &kind), static_cast<uint32_t>(kStoreCodeHashMismatch));
    EXPECT_EQ(kind, static_cast<uint32_t>(PROGRESS_URL_FILE));
    EXPECT_EQ(file.IsFinished(), 1);
    EXPECT_EQ(owner.fileCookie, &file);
    EXPECT_EQ(owner.fileHash, "digest");

    // Three fetches in all; the third failure ends the record.
    EXPECT_EQ(file.Done(0), 0);
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

TEST(DownloadFileTest, AFailedHashFetchLeavesTheArchiveUnchecked)
{
    BodyReceiver owner;
    CDownloadFile file(kArchive, kHash, "QLSDownloadV32.exe", "C:\\engine\\");
    file.SetOwner(&owner, &file);
    ASSERT_EQ(file.TryAcquire(), &file);
    EXPECT_EQ(file.Done(0), 0);
    EXPECT_EQ(UrlOf(file), kArchive);
    EXPECT_EQ(file.MatchesUrl(kHash), 0);
    uint32_t kind = 0;
    EXPECT_EQ(file.StoreData(kHash, "digest", 6, &kind), static_cast<uint32_t>(kStoreCodeForeignUrl));
    (void)file.StoreData(kArchive, "zip", 3, &kind);
    EXPECT_EQ(owner.fileHash, "none");
    EXPECT_EQ(file.StoreData(kArchive, nullptr, 3, &kind), static_cast<uint32_t>(kStoreCodeBadArguments));

    // The update list's record has no hash, name or folder: every body is the list.
    CDownloadFile list("http://updates.test/list.xml", nullptr, nullptr, nullptr);
    list.SetOwner(&owner, &list);
    EXPECT_EQ(list.GetUrlKind("http://elsewhere.test/"), PROGRESS_URL_UPDATE_LIST);
    EXPECT_EQ(list.StoreData("http://updates.test/list.xml", "<x/>", 4, &kind),
              static_cast<uint32_t>(kStoreCodeStored));
    EXPECT_EQ(kind, static_cast<uint32_t>(PROGRESS_URL_UPDATE_LIST));
    EXPECT_EQ(owner.lists, std::vector<std::string>{"<x/>"});

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
    EXPECT_EQ(list.OnFileDone(kHash, 0), 0); // the hash fetch failed: the record stays
    EXPECT_EQ(list.FindByUrl(kArchive), first);
    EXPECT_EQ(list.OnFileDone("http://updates.test/list.xml", 1), 1);
    EXPECT_EQ(list.GetCount(), 1u);
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
    EXPECT_EQ(parse(list, std::string(CDownloadFileList::kMaxUpdateListLength + 1, ' ')), kStoreCodeListUnusable);
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

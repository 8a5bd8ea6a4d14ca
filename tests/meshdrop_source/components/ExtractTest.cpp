// Extraction of zip and 7z archives held in memory: archives made by the
// real tools and, for names no tool writes, by libarchive's writer. Nothing
// may land outside the target folder.

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "7ZipExtractAction.h"
#include "ExtractArchive.h"
#include "ExtractTarget.h"
#include "GZipExtractAction.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

struct Entry {
    Entry(std::string entryName, std::string entryData = "", unsigned entryType = AE_IFREG, std::string linkTo = "")
        : name(std::move(entryName)), data(std::move(entryData)), type(entryType), link(std::move(linkTo))
    {}
    std::string name;
    std::string data;
    unsigned type;
    std::string link;
};

la_ssize_t AppendToString(archive*, void* out, const void* bytes, size_t size)
{
    static_cast<std::string*>(out)->append(static_cast<const char*>(bytes), size);
    return static_cast<la_ssize_t>(size);
}

// An archive written by libarchive with exactly the given entry names.
std::string WriteArchive(int type, const std::vector<Entry>& entries)
{
    std::string out;
    archive* writer = archive_write_new();
    if (type == kArchiveType7z)
        archive_write_set_format_7zip(writer);
    else
        archive_write_set_format_zip(writer);
    archive_write_open(writer, &out, nullptr, AppendToString, nullptr);
    for (const Entry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.c_str());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, e.type == AE_IFDIR ? 0755 : 0644);
        if (!e.link.empty())
            archive_entry_set_symlink(entry, e.link.c_str());
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
        archive_write_header(writer, entry);
        archive_write_data(writer, e.data.data(), e.data.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return out;
}

int Shell(const std::string& command)
{
    return std::system(command.c_str());
}

// The Windows form of a POSIX folder, with its trailing backslash.
std::string WindowsFolder(const std::string& posix)
{
    return W32PathFromPosixA(posix) + "\\";
}

int Extract(int type, const std::string& archive, const std::string& folder)
{
    return ExtractArchive(type, reinterpret_cast<const unsigned char*>(archive.data()),
                          static_cast<int64_t>(archive.size()), WindowsFolder(folder).c_str());
}

// Every path below `root`, relative to it; links are listed, not followed.
std::set<std::string> Tree(const std::string& root)
{
    std::set<std::string> paths;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        paths.insert(fs::relative(it->path(), root).string() + (it->is_symlink() ? "@" : ""));
    return paths;
}

unsigned Mode(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class ExtractTest : public ::testing::Test {
protected:
    // The sources, archives and target folders live in here.
    testsupport::TempDir dir{"meshdrop-extract"};
    const std::string box = dir.file("box");
    const std::string target = box + "/target/new/";
};

TEST_F(ExtractTest, ZipFromTheZipToolKeepsFoldersModesAndTimes)
{
    const std::string src = dir.file("src");
    ASSERT_TRUE(writeFile(src + "/QLSDownloadV32.exe", "#!/bin/sh\n"));
    ASSERT_TRUE(writeFile(src + "/data/sub/readme.txt", "hello"));
    ASSERT_TRUE(writeFile(src + "/data/big.bin", testsupport::patternBytes(3 << 20, 5)));
    fs::create_directories(src + "/empty");
    chmod((src + "/QLSDownloadV32.exe").c_str(), 04777);
    chmod((src + "/data/sub/readme.txt").c_str(), 0640);
    ASSERT_EQ(Shell("touch -d '2021-03-04 05:06:08' '" + src + "/data/sub/readme.txt'"), 0);
    ASSERT_EQ(Shell("cd '" + src + "' && zip -qr ../a.zip ."), 0);

    ASSERT_EQ(Extract(kArchiveTypeZip, readFile(dir.file("a.zip")), target), 0);
    EXPECT_EQ(readFile(target + "data/sub/readme.txt"), "hello");
    EXPECT_EQ(readFile(target + "data/big.bin"), readFile(src + "/data/big.bin"));
    EXPECT_TRUE(fs::is_directory(target + "empty"));
    EXPECT_EQ(Mode(target + "QLSDownloadV32.exe"), 0755u); // set-user-id and group/other write masked
    EXPECT_EQ(Mode(target + "data/sub/readme.txt"), 0640u);
    EXPECT_EQ(fs::last_write_time(target + "data/sub/readme.txt"), fs::last_write_time(src + "/data/sub/readme.txt"));
}

TEST_F(ExtractTest, SevenZipFromThe7zToolCreatesTheFolderAndLeavesTheCurrentDirectory)
{
    const std::string src = dir.file("src");
    ASSERT_TRUE(writeFile(src + "/x/y/file.bin", testsupport::patternBytes(700000, 3)));
    ASSERT_TRUE(writeFile(src + "/run.sh", "#!/bin/sh\n"));
    ASSERT_TRUE(writeFile(src + "/\xE5\xBC\x95\xE6\x93\x8E.txt", "engine"));
    fs::create_directories(src + "/only/folder");
    chmod((src + "/run.sh").c_str(), 0755);
    ASSERT_EQ(Shell("cd '" + src + "' && 7zz a -bd -bso0 ../a.7z . >/dev/null"), 0);
    const fs::path before = fs::current_path();

    ASSERT_EQ(Extract(kArchiveType7z, readFile(dir.file("a.7z")), target), 0);
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_EQ(readFile(target + "x/y/file.bin"), readFile(src + "/x/y/file.bin"));
    EXPECT_EQ(readFile(target + "\xE5\xBC\x95\xE6\x93\x8E.txt"), "engine");
    EXPECT_TRUE(fs::is_directory(target + "only/folder"));
    EXPECT_EQ(Mode(target + "run.sh"), 0755u);

    // A target folder is created, parents included, even for an archive
    // that cannot be opened.
    const std::string other = box + "/other/deeper/";
    EXPECT_EQ(
        C7ZipExtractAction().Extract(reinterpret_cast<const unsigned char*>("not 7z"), 6, WindowsFolder(other).c_str()),
        IExtractAction::kOpen7zFailed);
    EXPECT_TRUE(fs::is_directory(other));
}

TEST_F(ExtractTest, HostileNamesAndLinksStayBelowTheFolder)
{
    const std::vector<Entry> entries = {
        {"..\\x1", "1"},     {"C:\\x2", "2"},       {"/abs/x3", "3"},
        {"a/../../x4", "4"}, {"ok/..\\x5", "5"},    {"lnk", "", AE_IFLNK, "../../outside"},
        {"lnk/x6", "6"},     {"../", "", AE_IFDIR}, {"c:", "7"},
    };
    for (int type : {kArchiveTypeZip, kArchiveType7z}) {
        SCOPED_TRACE(type);
        fs::remove_all(box);
        ASSERT_EQ(Extract(type, WriteArchive(type, entries), target), 0);
        const std::set<std::string> expected = {"target",         "target/new",        "target/new/x1", "target/new/x2",
                                                "target/new/abs", "target/new/abs/x3", "target/new/x4", "target/new/x5",
                                                "target/new/lnk", "target/new/lnk/x6"};
        EXPECT_EQ(Tree(box), expected);
        EXPECT_EQ(readFile(target + "abs/x3"), "3");
        EXPECT_FALSE(fs::exists(dir.file("outside")));
    }
}

TEST_F(ExtractTest, LinksPlantedInTheFolderAreNeverFollowed)
{
    const std::string outsideFile = dir.file("outside.txt");
    const std::string outsideDir = dir.file("outside");
    for (int type : {kArchiveTypeZip, kArchiveType7z}) {
        SCOPED_TRACE(type);
        fs::remove_all(box);
        fs::create_directories(target);
        fs::create_directories(outsideDir);
        ASSERT_TRUE(writeFile(outsideFile, "keep"));
        fs::create_symlink(outsideFile, target + "file");
        fs::create_symlink(outsideDir, target + "dir");

        const std::string archive = WriteArchive(type, {{"file", "new"}, {"dir/x", "x"}});
        EXPECT_EQ(Extract(type, archive, target), kStoreCodeExtractFailed);
        // The link at "file" was replaced by the file; "dir/x" was refused.
        EXPECT_FALSE(fs::is_symlink(target + "file"));
        EXPECT_EQ(readFile(target + "file"), "new");
        EXPECT_EQ(readFile(outsideFile), "keep");
        EXPECT_TRUE(fs::is_empty(outsideDir));
    }
}

TEST_F(ExtractTest, AFailedEntryFailsTheArchiveAndKeepsTheEntriesBefore)
{
    // The third entry needs "blocker" to be a folder, but it is a file.
    const std::vector<Entry> entries = {{"first.txt", "1"}, {"blocker", "b"}, {"blocker/x", "x"}, {"last", "l"}};
    for (int type : {kArchiveTypeZip, kArchiveType7z}) {
        SCOPED_TRACE(type);
        fs::remove_all(box);
        EXPECT_EQ(Extract(type, WriteArchive(type, entries), target), kStoreCodeExtractFailed);
        EXPECT_EQ(Tree(box),
                  (std::set<std::string>{"target", "target/new", "target/new/first.txt", "target/new/blocker"}));
    }

    // Damaged data: a changed byte in the compressed stream, a cut archive.
    const std::string data = testsupport::patternBytes(200000, 9) + std::string(200000, 'z');
    for (int type : {kArchiveTypeZip, kArchiveType7z}) {
        SCOPED_TRACE(type);
        std::string archive = WriteArchive(type, {{"a.bin", data}, {"b.bin", data}});
        const std::string cut = archive.substr(0, archive.size() / 2);
        archive[archive.size() / 3] ^= 0x55;
        fs::remove_all(box);
        EXPECT_EQ(Extract(type, archive, target), kStoreCodeExtractFailed);
        EXPECT_EQ(Extract(type, cut, target), kStoreCodeExtractFailed);
        for (const std::string& path : Tree(box))
            EXPECT_EQ(path.find(".extract-"), std::string::npos) << path;
    }
}

TEST_F(ExtractTest, BadArgumentsAndUnknownTypesExtractNothing)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>("PK\3\4");
    const std::string folder = WindowsFolder(target);
    std::unique_ptr<IExtractAction> actions[] = {std::make_unique<CGZipExtractAction>(),
                                                 std::make_unique<C7ZipExtractAction>()};
    for (auto& action : actions) {
        EXPECT_EQ(action->Extract(nullptr, 4, folder.c_str()), IExtractAction::kBadArguments);
        EXPECT_EQ(action->Extract(bytes, 0, folder.c_str()), IExtractAction::kBadArguments);
        EXPECT_EQ(action->Extract(bytes, 4, nullptr), IExtractAction::kBadArguments);
        EXPECT_EQ(action->Extract(bytes, 4, ""), IExtractAction::kBadArguments);
    }
    EXPECT_EQ(CGZipExtractAction().Extract(bytes, 4, folder.c_str()), IExtractAction::kArchiveFailed);
    const std::string zip = WriteArchive(kArchiveTypeZip, {{"a", "a"}});
    EXPECT_EQ(Extract(kArchiveTypeNone, zip, target), kStoreCodeExtractFailed);
    EXPECT_EQ(Extract(3, zip, target), kStoreCodeExtractFailed);
    EXPECT_FALSE(fs::exists(box));
}

TEST_F(ExtractTest, EntriesAndBytesAreBounded)
{
    // One entry more than allowed: the zip is refused before anything is
    // written, the 7z (counted as it is read; links are counted but never
    // created) once it gets there. The exact limit is the target's own.
    std::vector<Entry> many;
    for (uint32_t i = 0; i <= CExtractTarget::kMaxEntries; ++i)
        many.emplace_back("l" + std::to_string(i), "", AE_IFLNK, "x");
    EXPECT_EQ(Extract(kArchiveTypeZip, WriteArchive(kArchiveTypeZip, many), target), kStoreCodeExtractFailed);
    EXPECT_EQ(Extract(kArchiveType7z, WriteArchive(kArchiveType7z, many), target), kStoreCodeExtractFailed);
    many.pop_back();
    EXPECT_EQ(Extract(kArchiveTypeZip, WriteArchive(kArchiveTypeZip, many), target), 0);

    CExtractTarget limited(WindowsFolder(target).c_str(), 10, 2);
    EXPECT_TRUE(limited.CountEntry());
    EXPECT_TRUE(limited.CountEntry());
    EXPECT_FALSE(limited.CountEntry());
    auto file = limited.BeginFile("f");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Write("0123456789", 10));
    EXPECT_FALSE(file->Write("x", 1));
    file.reset();
    EXPECT_EQ(Tree(target), std::set<std::string>{}); // the unfinished file is gone
}

} // namespace

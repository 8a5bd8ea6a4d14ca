// The file list document as the publisher writes it, and as a broken or
// hostile server might.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "FileListSplitter.h"

namespace {

FileListSplit Split(const std::string& bytes)
{
    return SplitFileList(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

using Entries = std::vector<std::wstring>;

} // namespace

TEST(FileListSplitter, CrLfAndLfListsGiveTheSameEntriesAndEmptyLinesGiveNone)
{
    const Entries two = {L"http://h/a.pak", L"http://h/b.pak"};
    EXPECT_EQ(Split("http://h/a.pak\r\nhttp://h/b.pak\r\n").entries, two);
    EXPECT_EQ(Split("http://h/a.pak\nhttp://h/b.pak").entries, two);
    EXPECT_EQ(Split("http://h/a.pak\r\n\r\nhttp://h/b.pak\r\n").entries, two);
    EXPECT_EQ(Split("http://h/a.pak\n\nhttp://h/b.pak").entries, two);
    EXPECT_FALSE(Split("http://h/a.pak\nhttp://h/b.pak").longLine);
}

TEST(FileListSplitter, AFinalFragmentCountsOnlyWithMoreThanTwoBytes)
{
    EXPECT_EQ(Split("http://h/a\nab").entries, Entries{L"http://h/a"});
    EXPECT_EQ(Split("http://h/a\nabc").entries, (Entries{L"http://h/a", L"abc"}));
    EXPECT_TRUE(Split("ab").entries.empty());
    EXPECT_TRUE(Split("").entries.empty());
}

TEST(FileListSplitter, LinesOf1024BytesOrMoreStopTheSplittingKeepingEarlierEntries)
{
    const std::string ok(1023, 'x');
    const std::string tooLong(1024, 'y');
    FileListSplit accepted = Split(ok + "\r\n");
    EXPECT_FALSE(accepted.longLine);
    ASSERT_EQ(accepted.entries.size(), 1u);
    EXPECT_EQ(accepted.entries[0].size(), 1023u);

    FileListSplit refused = Split("http://h/a\r\n" + tooLong + "\r\nhttp://h/after\r\n");
    EXPECT_TRUE(refused.longLine);
    EXPECT_EQ(refused.entries, Entries{L"http://h/a"});

    // The same limit holds for an unterminated last line.
    FileListSplit lastLine = Split("http://h/a\n" + tooLong);
    EXPECT_TRUE(lastLine.longLine);
    EXPECT_EQ(lastLine.entries, Entries{L"http://h/a"});
}

TEST(FileListSplitter, TrimsWhiteSpaceButKeepsALoneCrInsideAnEntry)
{
    EXPECT_EQ(Split("    \r\n").entries, Entries{L""});
    EXPECT_EQ(Split("  http://h/a \t\r\n").entries, Entries{L"http://h/a"});
    EXPECT_EQ(Split("http://h/a\rb\n").entries, Entries{L"http://h/a\rb"});
    // A CR just before the end of the buffer is not a line end.
    EXPECT_EQ(Split("http://h/a\r").entries, Entries{L"http://h/a"});
}

TEST(FileListSplitter, KeepsMirrorsOfAnEntryTogetherAndConvertsFromTheSystemCodePage)
{
    EXPECT_EQ(Split("http://m/a.pak|http://h/a.pak\r\n").entries, Entries{L"http://m/a.pak|http://h/a.pak"});
    EXPECT_EQ(Split("http://h/\xE4\xB8\x8B\xE8\xBC\x89.pak\n").entries, Entries{L"http://h/\u4E0B\u8F09.pak"});
}

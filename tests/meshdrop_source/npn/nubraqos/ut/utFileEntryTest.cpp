// The rule the library and the engine both read a file's entry by: its
// mirrors, the name its file takes, and the names no download may take.

#include <gtest/gtest.h>

#include "ut/utFileEntry.h"
#include "ut/utFileName.h"

TEST(FileNameTest, OnlyOnePlainComponentIsAFileName)
{
    for (const std::string name :
         {"a.bin", "Setup.EXE", "a b.bin", "a%20b", "..a", "a..", "\xE4\xB8\xAD.bin", "100%"}) {
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    }
    EXPECT_TRUE(IsPlainFileName(std::string(255, 'n')));
    for (const std::string name : {"", ".", "..", "..\\", "x\\..\\..\\", "/etc/x", "Z:\\x", "C:x", "a/b", "a%00b",
                                   "%2e%2e", "%2E.", "a%2fb", "a%5Cb", "a%3ab", "a\tb", "a\x7F", "a\rb"}) {
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    }
    EXPECT_FALSE(IsPlainFileName(std::string(256, 'n')));
    EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));
    for (const std::string name : {"a.bin.mdpart", "a.mdstate", "a.mdstate~"}) {
        EXPECT_TRUE(IsReservedFileName(name)) << name;
    }
    EXPECT_FALSE(IsReservedFileName("a.mdpart.bin"));
}

TEST(FileEntryTest, MirrorsAndNamesOfEntries)
{
    struct Row {
        std::string entry;
        std::string given;
        utEntryCheck check;
        std::vector<std::string> mirrors;
        std::string name;
    };
    const std::string longEntry = "http://h/" + std::string(kMaxEntryBytes, 'x');
    const Row rows[] = {
        {"http://h/dir/f.bin", "", utEntryCheck::Ok, {"http://h/dir/f.bin"}, "f.bin"},
        {"HTTPS://h:8443/f.bin?x=1/y.bin#z", "", utEntryCheck::Ok, {"HTTPS://h:8443/f.bin?x=1/y.bin#z"}, "f.bin"},
        {" http://a/f.bin | http://b/old/f.bin\r\n",
         "",
         utEntryCheck::Ok,
         {"http://a/f.bin", "http://b/old/f.bin"},
         "f.bin"},
        // The name comes from the first address, not from the last "/" of the entry.
        {"http://a/ok.bin|http://b/..\\..\\evil.exe",
         "",
         utEntryCheck::Ok,
         {"http://a/ok.bin", "http://b/..\\..\\evil.exe"},
         "ok.bin"},
        // Parts that are not http(s) addresses are left out.
        {"nonsense://x|https://h/a", "", utEntryCheck::Ok, {"https://h/a"}, "a"},
        {"ftp://h/a|http://h:0/a|http://:80/a|http://h:99999/a|http://h/b", "", utEntryCheck::Ok, {"http://h/b"}, "b"},
        {"http://h/x", "given.bin", utEntryCheck::Ok, {"http://h/x"}, "given.bin"},
        {"http://[::1]:8080/v6.bin|http://[2001:db8::1]/v6.bin",
         "",
         utEntryCheck::Ok,
         {"http://[::1]:8080/v6.bin", "http://[2001:db8::1]/v6.bin"},
         "v6.bin"},
        {"http://[::1/a|http://[]/a|http://[::1]x/a|http://[::1]:/a|http://[g::1]/a",
         "",
         utEntryCheck::NoAddress,
         {},
         ""},
        {"http://h/dir/", "", utEntryCheck::BadName, {"http://h/dir/"}, ""},
        {"http://h", "", utEntryCheck::BadName, {"http://h"}, ""},
        {"http://h/%2e%2e", "", utEntryCheck::BadName, {"http://h/%2e%2e"}, "%2e%2e"},
        {"http://h/x.bin", "..\\evil.exe", utEntryCheck::BadName, {"http://h/x.bin"}, "..\\evil.exe"},
        {"http://h/x.bin.mdpart", "", utEntryCheck::BadName, {"http://h/x.bin.mdpart"}, "x.bin.mdpart"},
        {"", "", utEntryCheck::NoAddress, {}, ""},
        {"no-slash", "", utEntryCheck::NoAddress, {}, ""},
        {"/etc/x|Z:\\x|C:x", "a.bin", utEntryCheck::NoAddress, {}, ""},
        {"http://|https://", "", utEntryCheck::NoAddress, {}, ""},
        {"http://h/a\rInjected: 1", "", utEntryCheck::NoAddress, {}, ""},
        {longEntry, "", utEntryCheck::NoAddress, {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry + " / " + row.given);
        utFileEntry entry;
        EXPECT_EQ(utReadFileEntry(row.entry, row.given, &entry), row.check);
        EXPECT_EQ(entry.mirrors, row.mirrors);
        if (row.check != utEntryCheck::NoAddress) {
            EXPECT_EQ(entry.name, row.name);
        }
    }
    // Beyond 16 mirrors the rest are left out.
    std::string many;
    for (int i = 0; i < 20; ++i) {
        many += (i ? "|" : "") + std::string("http://m") + std::to_string(i) + "/f";
    }
    EXPECT_EQ(utSplitMirrors(many).size(), kMaxEntryMirrors);
}

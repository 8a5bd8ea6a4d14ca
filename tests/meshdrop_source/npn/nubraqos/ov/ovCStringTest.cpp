#include <gtest/gtest.h>

#include <string>

#include "ov/ovCString.h"

TEST(ovCString, ShortStringsStayInlineAndGrowIntoExactHeapBlocks)
{
    ovCString s("abc");
    EXPECT_FALSE(s.UsesHeap());
    EXPECT_STREQ(s.GetString(), "abc");

    ASSERT_TRUE(s.Append("d"));
    EXPECT_TRUE(s.UsesHeap());
    EXPECT_EQ(s.GetLength(), 4u);
    EXPECT_STREQ(s.GetString(), "abcd");

    s.Assign("ab");
    EXPECT_FALSE(s.UsesHeap());
    EXPECT_STREQ(s.GetString(), "ab");

    s.Empty();
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_STREQ(s.GetString(), "");
}

TEST(ovCString, NullOrEmptyTextEmptiesAndAppendsNothing)
{
    ovCString s("hello");
    s.Assign(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    s.Assign("world");
    s.Assign("\0xyz", 4);
    EXPECT_TRUE(s.IsEmpty());
    s.Assign("x");
    EXPECT_TRUE(s.Append(static_cast<const char*>(nullptr)));
    EXPECT_STREQ(s.GetString(), "x");
}

TEST(ovCString, AssignReusesALargerBlockWithoutLeavingOldBytes)
{
    ovCString s("abcdefghij");
    s.Assign("wxyz1");
    EXPECT_EQ(s.GetLength(), 5u);
    EXPECT_STREQ(s.GetString(), "wxyz1");
    EXPECT_EQ(std::string(s.GetString(), 6), std::string("wxyz1\0", 6));
}

TEST(ovCString, AssignAndAppendFromItsOwnBytes)
{
    ovCString s("0123456789");
    s.Assign(s.GetString() + 2, 6);
    EXPECT_STREQ(s.GetString(), "234567");

    ASSERT_TRUE(s.Append(s));
    EXPECT_STREQ(s.GetString(), "234567234567");

    ovCString t("ab");
    ASSERT_TRUE(t.Append(t.GetString(), 1));
    EXPECT_STREQ(t.GetString(), "aba");
    ASSERT_TRUE(t.Append(t));
    EXPECT_STREQ(t.GetString(), "abaaba");
}

TEST(ovCString, FindHonoursTheStartOffset)
{
    ovCString s("a=b&c=d");
    EXPECT_EQ(s.Find("="), 1);
    EXPECT_EQ(s.Find("=", 2), 5);
    EXPECT_EQ(s.Find("x", s.GetLength()), -1);
    EXPECT_EQ(s.Find("x", s.GetLength() + 1), -1);
    EXPECT_EQ(s.Find("c=d", 4), 4);
    EXPECT_EQ(s.Find("c=dd", 4), -1);
}

TEST(ovCString, MidCutsToTheEndAndRejectsOversizedRequests)
{
    ovCString s("Content-Length: 1234");
    EXPECT_STREQ(s.Mid(16, 100).GetString(), "1234");
    EXPECT_STREQ(s.Mid(0, 7).GetString(), "Content");
    EXPECT_TRUE(s.Mid(0, 0x100001).IsEmpty());
    EXPECT_TRUE(s.Mid(s.GetLength(), 5).IsEmpty());
    EXPECT_TRUE(s.Mid(s.GetLength() + 1, 1).IsEmpty());
}

TEST(ovCString, CompareLowerAndCopies)
{
    ovCString s("Content-TYPE: X");
    s.MakeLower();
    EXPECT_STREQ(s.GetString(), "content-type: x");
    EXPECT_TRUE(s.Equals("content-type: x"));
    EXPECT_LT(ovCString("abc").Compare("abd"), 0);
    EXPECT_GT(ovCString("b").Compare(ovCString("abc")), 0);

    ovCString copy(s);
    ovCString moved(std::move(copy));
    EXPECT_TRUE(moved == s);
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_STREQ(ovCString('z').GetString(), "z");
}

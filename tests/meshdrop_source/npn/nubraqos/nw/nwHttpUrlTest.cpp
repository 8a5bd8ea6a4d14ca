// Splitting addresses into scheme, host, port and path.

#include <gtest/gtest.h>

#include <utility>

#include "nw/nwHttpUrl.h"

TEST(HttpUrl, SplitsHostPortAndPathKeepingTheirCase)
{
    nwHttpUrl url;
    ASSERT_TRUE(nwParseHttpUrl("http://h:8080/a b/c.txt?x=1&y", &url));
    EXPECT_EQ(url.scheme, HTTP_SCHEME_HTTP);
    EXPECT_STREQ(url.host.GetString(), "h");
    EXPECT_EQ(url.port, 8080);
    EXPECT_STREQ(url.path.GetString(), "/a b/c.txt?x=1&y");

    ASSERT_TRUE(nwParseHttpUrl("HTTP://Www.Example.TEST", &url));
    EXPECT_STREQ(url.host.GetString(), "Www.Example.TEST");
    EXPECT_EQ(url.port, 80);
    EXPECT_TRUE(url.path.IsEmpty());

    ASSERT_TRUE(nwParseHttpUrl("hTTps://h/F?Q", &url));
    EXPECT_EQ(url.scheme, HTTP_SCHEME_HTTPS);
    EXPECT_EQ(url.port, 443);
    EXPECT_STREQ(url.path.GetString(), "/F?Q");
}

TEST(HttpUrl, RefusesOtherSchemesEmptyHostsAndPortsThatAreNoPort)
{
    nwHttpUrl url;
    for (const char* bad : {"", "ftp://h/", "http:/h", "http://", "https://", "http:///x", "http://:80/x",
                            "http://h:/x", "http://h:0/", "http://h:65536/", "http://h:99999999999999999999999/",
                            "http://h:80x/", "http://h:-1/", "http://h\r\nX: y/"}) {
        EXPECT_FALSE(nwParseHttpUrl(bad, &url)) << bad;
    }
    EXPECT_FALSE(nwParseHttpUrl(nullptr, &url));
    EXPECT_TRUE(nwParseHttpUrl("http://h:65535", &url));
    EXPECT_EQ(url.port, 65535);
}

TEST(HttpUrl, RedirectTargetsAreResolvedAgainstTheRequestedAddress)
{
    const char* base = "http://h:81/d/e/f.bin?q=1#top";
    const std::pair<const char*, const char*> cases[] = {
        {"https://o/x", "https://o/x"},
        {"HTTP://o", "HTTP://o"},
        {"//o:82/x", "http://o:82/x"},
        {"/x/y", "http://h:81/x/y"},
        {"g.bin", "http://h:81/d/e/g.bin"},
        {"./g", "http://h:81/d/e/g"},
        {"../g", "http://h:81/d/g"},
        {"../../../../g", "http://h:81/g"},
        {"g/..", "http://h:81/d/e/"},
        {"?r=2", "http://h:81/d/e/f.bin?r=2"},
        {"g?a=/../b#frag", "http://h:81/d/e/g?a=/../b"},
        {"/a/./b/../c", "http://h:81/a/c"},
        {"#only", "http://h:81/d/e/f.bin?q=1"},
    };
    for (const auto& [reference, expected] : cases) {
        EXPECT_STREQ(nwResolveUrl(base, reference).GetString(), expected) << reference;
    }
    EXPECT_STREQ(nwResolveUrl("http://h", "x").GetString(), "http://h/x");
    EXPECT_STREQ(nwResolveUrl("http://h", "").GetString(), "");
    EXPECT_STREQ(nwResolveUrl("not a url", "x").GetString(), "x");
}

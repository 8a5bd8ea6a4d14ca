// Splitting addresses into scheme, host, port and path.

#include <gtest/gtest.h>

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

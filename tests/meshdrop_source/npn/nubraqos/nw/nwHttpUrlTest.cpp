// Splitting addresses into scheme, host, port and path.

#include <gtest/gtest.h>

#include <string>
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

TEST(HttpUrl, BracketedIPv6LiteralsStandForTheirAddress)
{
    struct Case {
        const char* url;
        const char* host;
        std::uint16_t port;
        const char* path;
        const char* origin; // how the URL names its server again
    };
    const Case good[] = {
        {"http://[2001:db8::1]:8080/x", "2001:db8::1", 8080, "/x", "http://[2001:db8::1]:8080"},
        {"http://[::1]", "::1", 80, "", "http://[::1]"},
        {"https://[::ffff:127.0.0.1]/a?b=[c]", "::ffff:127.0.0.1", 443, "/a?b=[c]", "https://[::ffff:127.0.0.1]"},
        {"http://[FE80::A]:80/", "FE80::A", 80, "/", "http://[FE80::A]"},
    };
    for (const Case& c : good) {
        nwHttpUrl url;
        ASSERT_TRUE(nwParseHttpUrl(c.url, &url)) << c.url;
        EXPECT_STREQ(url.host.GetString(), c.host) << c.url;
        EXPECT_EQ(url.port, c.port) << c.url;
        EXPECT_STREQ(url.path.GetString(), c.path) << c.url;
        EXPECT_EQ(url.Origin(), c.origin) << c.url;
        EXPECT_EQ(url.HostText(), "[" + std::string(c.host) + "]") << c.url;
    }
    nwHttpUrl url;
    for (const char* bad : {"http://[::1/x", "http://[]/", "http://[127.0.0.1]/", "http://[::1]x/", "http://[::1]:/",
                            "http://[fe80::1%25eth0]/", "http://[::g]/", "http://::1/", "http://[::1]:65536/"}) {
        EXPECT_FALSE(nwParseHttpUrl(bad, &url)) << bad;
    }
    ASSERT_TRUE(nwParseHttpUrl("http://h:8080/", &url));
    EXPECT_EQ(url.Authority(), "h:8080");
    EXPECT_EQ(url.Origin(), "http://h:8080");
    // Redirects keep the brackets of the server they are resolved against.
    EXPECT_STREQ(nwResolveUrl("http://[::1]:81/d/f", "g").GetString(), "http://[::1]:81/d/g");
    EXPECT_STREQ(nwResolveUrl("http://h/", "//[::1]:82/x").GetString(), "http://[::1]:82/x");
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

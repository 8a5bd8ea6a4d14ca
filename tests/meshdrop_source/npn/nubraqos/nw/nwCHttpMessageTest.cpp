// Parsing of HTTP heads: the stored (name, value) pairs, look-ups, and numbers
// that must neither wrap nor be read past.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "nw/nwCHttpMessage.h"

namespace {

nwCHttpMessage Parsed(const std::string& head)
{
    nwCHttpMessage message;
    message.Parse(head.data(), static_cast<std::uint32_t>(head.size()));
    return message;
}

} // namespace

TEST(HttpMessage, ResponseHeadIsStoredLineByLineWithColonsKeptAndValuesDecoded)
{
    const std::string head = "HTTP/1.1 302 Found\r\n"
                             "Location: http://h/a%20b\r\n"
                             "content-length: 1234\n" // LF only
                             "NoSpaceHere\r\n"        // ignored
                             "X-Multi:  two  spaces\r\n"
                             "Content-Encoding: gzip, br\r\n"
                             "Content-Type: multipart/form-data; boundary=--xyz; q=1\r\n"
                             "\r\n";
    const nwCHttpMessage message = Parsed(head);
    ASSERT_EQ(message.GetHeaders().size(), 6u);
    EXPECT_STREQ(message.GetHeaders()[0].name.GetString(), "HTTP/1.1");
    EXPECT_STREQ(message.GetHeaders()[0].value.GetString(), "302 Found");
    EXPECT_STREQ(message.GetHeaders()[1].name.GetString(), "Location:");
    EXPECT_STREQ(message.GetHeaders()[3].value.GetString(), "two  spaces");
    EXPECT_EQ(message.GetStatusCode(), 302);
    EXPECT_EQ(message.GetContentLength(), 1234);
    EXPECT_EQ(std::string(message.GetRawHead().GetString()), head);

    // Look-ups: lower-cased prefix of the stored name (colon included).
    ASSERT_NE(message.FindHeader("LOCATION:"), nullptr);
    EXPECT_STREQ(message.FindHeader("location:")->GetString(), "http://h/a b");
    EXPECT_STREQ(message.FindHeader("Content-L")->GetString(), "1234");
    EXPECT_EQ(message.FindHeader("Locations"), nullptr);
    EXPECT_EQ(message.FindHeader(""), nullptr);
    EXPECT_EQ(message.FindHeader(nullptr), nullptr);

    ASSERT_EQ(message.GetContentEncodings().size(), 2u);
    EXPECT_STREQ(message.GetContentEncodings()[1].GetString(), "br");
    EXPECT_STREQ(message.GetBoundary().GetString(), "--xyz");
}

TEST(HttpMessage, NumbersAreLeadingDigitsAndNeverWrap)
{
    EXPECT_EQ(Parsed("HTTP/1.1 200 OK\r\nContent-Length: 10abc\r\n\r\n").GetContentLength(), 0);
    EXPECT_EQ(Parsed("HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n").GetContentLength(), 0);
    EXPECT_EQ(Parsed("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n").GetContentLength(), 0);
    EXPECT_EQ(Parsed("HTTP/1.1 200 OK\r\n\r\n").GetContentLength(), 0);
    // 30 digits would wrap a 64-bit number: the length is unusable, so 0.
    EXPECT_EQ(Parsed("HTTP/1.1 200 OK\r\nContent-Length: 100000000000000000000000000005\r\n\r\n").GetContentLength(),
              0);
    EXPECT_EQ(Parsed("HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\n").GetContentLength(), INT64_MAX);
    EXPECT_EQ(Parsed("HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n").GetContentLength(), 0);

    EXPECT_EQ(Parsed("HTTP/1.1 206 Partial Content\r\n\r\n").GetStatusCode(), 206);
    EXPECT_EQ(Parsed("HTTP/1.1 99999999999999999999 Big\r\n\r\n").GetStatusCode(), 0);
    EXPECT_EQ(Parsed("HTTP/1.1 OK\r\n\r\n").GetStatusCode(), 0);
    EXPECT_EQ(nwCHttpMessage().GetStatusCode(), 0);
}

TEST(HttpMessage, BodyFramingIsReadAsHttp11Says)
{
    auto length = [](const std::string& headers) {
        return Parsed("HTTP/1.1 200 OK\r\n" + headers + "\r\n").GetContentLength();
    };
    // Spaces or tabs around the value are optional; the name is exact.
    EXPECT_EQ(length("Content-Length:5\r\n"), 5);
    EXPECT_EQ(length("content-length:\t 5 \t\r\n"), 5);
    EXPECT_EQ(length("Content-Length-X: 9\r\n"), 0);
    EXPECT_EQ(length("Content-Length-X: 9\r\nContent-Length: 4\r\n"), 4);
    // Duplicates count only when they agree, also as a list.
    EXPECT_EQ(length("Content-Length: 7\r\nContent-Length: 7\r\n"), 7);
    EXPECT_EQ(length("Content-Length: 7, 7\r\n"), 7);
    EXPECT_EQ(length("Content-Length: 7\r\nContent-Length: 9\r\n"), 0);
    EXPECT_EQ(length("Content-Length: 7, 9\r\n"), 0);
    EXPECT_EQ(length("Content-Length:\r\n"), 0);
    // A Transfer-Encoding makes the length no length of the body.
    EXPECT_EQ(length("Content-Length: 7\r\nTransfer-Encoding: chunked\r\n"), 0);

    auto chunked = [](const std::string& headers) {
        return Parsed("HTTP/1.1 200 OK\r\n" + headers + "\r\n").IsChunked();
    };
    EXPECT_TRUE(chunked("Transfer-Encoding: chunked\r\n"));
    EXPECT_TRUE(chunked("transfer-encoding:gzip, CHUNKED\r\n"));
    EXPECT_TRUE(chunked("Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n"));
    EXPECT_FALSE(chunked("Transfer-Encoding: chunked, gzip\r\n"));
    EXPECT_FALSE(chunked("Transfer-Encodings: chunked\r\n"));
    EXPECT_FALSE(chunked(""));

    // The first line must be "HTTP/1.x NNN".
    EXPECT_TRUE(Parsed("HTTP/1.1 200 OK\r\n\r\n").HasStatusLine());
    EXPECT_TRUE(Parsed("HTTP/1.0 404\r\n\r\n").HasStatusLine());
    for (const char* bad : {"HTTP/2 200 OK\r\n\r\n", "ICY 200 OK\r\n\r\n", "HTTP/1.1 20 OK\r\n\r\n",
                            "HTTP/1.1 2000 OK\r\n\r\n", "\r\nHTTP/1.1 200 OK\r\n\r\n", "Content-Length: 5\r\n\r\n"}) {
        EXPECT_FALSE(Parsed(bad).HasStatusLine()) << bad;
    }
}

TEST(HttpMessage, ParsesOnlyTheBytesItIsGiven)
{
    // The head ends inside a larger buffer with no terminator: nothing past
    // `length` is read (the sanitizer build would catch it).
    const std::string bytes = "HTTP/1.1 200 OK\r\nContent-Length: 12";
    auto* copy = new char[bytes.size()];
    std::memcpy(copy, bytes.data(), bytes.size());
    nwCHttpMessage message;
    message.Parse(copy, static_cast<std::uint32_t>(bytes.size()));
    delete[] copy;
    EXPECT_EQ(message.GetContentLength(), 12);
    message.Parse(nullptr, 5);
    EXPECT_FALSE(message.HasHead());
    EXPECT_TRUE(message.GetHeaders().empty());
}

TEST(HttpMessage, RequestHeadSplitsTargetIntoPathAndDecodedParameters)
{
    const nwCHttpMessage message = Parsed("GET /p%20q/r?a=1&b&c=%41%20&=x HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_STREQ(message.GetRawTarget().GetString(), "/p%20q/r?a=1&b&c=%41%20&=x");
    EXPECT_STREQ(message.GetPath().GetString(), "/p q/r");
    EXPECT_STREQ(message.GetRawQuery().GetString(), "a=1&b&c=%41%20&=x");
    EXPECT_STREQ(message.GetQuery().GetString(), "a=1&b&c=A &=x");
    EXPECT_STREQ(message.GetVersion().GetString(), "HTTP/1.1");
    ASSERT_EQ(message.GetQueryParameters().size(), 3u);
    EXPECT_STREQ(message.GetQueryParameters()[1].name.GetString(), "c");
    EXPECT_STREQ(message.GetQueryParameters()[1].value.GetString(), "A ");
    EXPECT_EQ(message.GetStatusCode(), 0);
}

// The GET and POST heads, byte for byte, and the request target built from a
// path and query parameters.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "nw/nwCHttpGETHeaderBuilder.h"
#include "nw/nwCHttpMimeTypeMap.h"
#include "nw/nwCHttpPOSTHeaderBuilder.h"

namespace {

std::string Target(const char* path, std::initializer_list<std::pair<const char*, const char*>> parameters = {})
{
    nwCHttpGETHeaderBuilder builder;
    builder.AddHeader("GET", path);
    for (const auto& [name, value] : parameters) {
        builder.AddParameter(name, value);
    }
    return builder.BuildTarget().GetString();
}

std::string Build(nwCHttpRequestHeaderBuilder& builder)
{
    ovCString out;
    builder.Build(&out);
    return std::string(out.GetString(), out.GetLength());
}

} // namespace

TEST(HttpHeaderBuilder, TargetEncodesEachPathPieceAndTheQueryParameters)
{
    EXPECT_EQ(Target("/a b/c.txt?x=1&y"), "/a%20b/c.txt?x=1");
    EXPECT_EQ(Target("/dir/"), "/dir");
    EXPECT_EQ(Target("//a///b"), "/a/b");
    EXPECT_EQ(Target("/"), "/");
    EXPECT_EQ(Target("/f?q=b%20c"), "/f?q=b%2520c");
    EXPECT_EQ(Target("/f?a=1&b=2", {{"A", "3"}, {"c", "x y"}}), "/f?a=3&b=2&c=x%20y");
    EXPECT_EQ(Target("/\xc3\xa9t\xc3\xa9.bin"), "/%C3%A9t%C3%A9.bin"); // system code page UTF-8
    EXPECT_EQ(Target("/?&&=&k=v"), "/?k=v");

    nwCHttpGETHeaderBuilder none;
    EXPECT_STREQ(none.BuildTarget().GetString(), "/");
    EXPECT_FALSE(none.AddHeader("GET", ""));
    EXPECT_FALSE(none.AddParameter("", "v"));
}

TEST(HttpHeaderBuilder, GetHeadHasTheStandardHeadersInTheirPlacesThenTheOthersEncoded)
{
    nwCHttpGETHeaderBuilder builder;
    builder.AddHeader("X-Name", "a b");
    builder.AddHeader("Host", "h");
    builder.AddHeader("Cookie", "k=v; w=a b");
    builder.AddHeader("GET", "/a b/c.txt?x=1&y");
    builder.AddHeader("Range", "bytes=100-");
    EXPECT_EQ(Build(builder), "GET /a%20b/c.txt?x=1 HTTP/1.1\r\n"
                              "Accept: */*\r\n"
                              "Referer: http://www.nubrapeer.com\r\n"
                              "Accept-Language: ko\r\n"
                              "User-Agent: NubraClient\r\n"
                              "Range: bytes=100-\r\n"
                              "Host: h\r\n"
                              "Connection: Keep-Alive\r\n"
                              "X-Name: a%20b\r\n"
                              "Cookie: k=v; w=a b\r\n"
                              "\r\n");
    // Building again gives the same head.
    EXPECT_EQ(Build(builder), Build(builder));

    // A request header with a standard name (any case) replaces the default
    // value at the fixed place instead of being repeated.
    nwCHttpGETHeaderBuilder replaced;
    replaced.AddHeader("user-agent", "Other");
    EXPECT_EQ(Build(replaced), "GET / HTTP/1.1\r\n"
                               "Accept: */*\r\n"
                               "Referer: http://www.nubrapeer.com\r\n"
                               "Accept-Language: ko\r\n"
                               "User-Agent: Other\r\n"
                               "Connection: Keep-Alive\r\n"
                               "\r\n");
    ovCString out;
    replaced.BuildTrailer(&out);
    EXPECT_TRUE(out.IsEmpty());
}

TEST(HttpHeaderBuilder, PostHeadOpensTheMultipartBodyAndCountsTwoBytesLessThanFollow)
{
    nwCHttpPOSTHeaderBuilder builder;
    EXPECT_TRUE(std::regex_match(builder.GetBoundary().GetString(), std::regex("-{27}[0-9A-F]{16}")))
        << builder.GetBoundary().GetString();
    builder.SetBoundary("---------------------------0123456789ABCDEF");
    builder.AddHeader("Host", "h");
    builder.AddHeader("POST", "/up load");
    builder.SetBodyLength(10);
    const std::string partHead = "-----------------------------0123456789ABCDEF\r\n"
                                 "Content-Disposition: form-data; name=attach_file; filename=unknown\r\n"
                                 "Content-Type: application/octet-stream\r\n";
    const std::string head = Build(builder);
    ovCString trailer;
    builder.BuildTrailer(&trailer);
    EXPECT_STREQ(trailer.GetString(), "\r\n-----------------------------0123456789ABCDEF--\r\n");
    // What follows the head: the part head, CR LF, body, trailer.
    const std::size_t follows = partHead.size() + 2 + 10 + trailer.GetLength();
    EXPECT_EQ(head, "POST /up%20load HTTP/1.1\r\n"
                    "Accept: */*\r\n"
                    "Referer: http://www.nubrapeer.com\r\n"
                    "Accept-Language: ko\r\n"
                    "Content-Type: multipart/form-data; boundary=---------------------------0123456789ABCDEF\r\n"
                    "User-Agent: NubraClient\r\n"
                    "Host: h\r\n"
                    "Content-Length: " +
                        std::to_string(follows - 2) +
                        "\r\n"
                        "Connection: Keep-Alive\r\n"
                        "\r\n" +
                        partHead + "\r\n");

    // Without a body: only the boundary line opens the part, no Content-Length.
    nwCHttpPOSTHeaderBuilder empty;
    empty.SetBoundary("---------------------------FFFFFFFF00000000");
    EXPECT_EQ(Build(empty),
              "POST / HTTP/1.1\r\n"
              "Accept: */*\r\n"
              "Referer: http://www.nubrapeer.com\r\n"
              "Accept-Language: ko\r\n"
              "Content-Type: multipart/form-data; boundary=---------------------------FFFFFFFF00000000\r\n"
              "User-Agent: NubraClient\r\n"
              "Connection: Keep-Alive\r\n"
              "\r\n"
              "-----------------------------FFFFFFFF00000000\r\n"
              "\r\n");
}

TEST(HttpMimeTypeMap, AnswersOctetStreamUnlessAnExtensionWasAdded)
{
    nwCHttpMimeTypeMap map;
    EXPECT_STREQ(map.Lookup("unknown"), "application/octet-stream");
    EXPECT_STREQ(map.Lookup(nullptr), "application/octet-stream");
    map.Add("txt", "text/plain");
    EXPECT_STREQ(map.Lookup("a.b.TXT"), "text/plain");
    EXPECT_STREQ(map.Lookup("txt"), "application/octet-stream");
    EXPECT_EQ(nwCHttpMimeTypeMap::GetMimeTypeMap()->GetCount(), 0u);
}

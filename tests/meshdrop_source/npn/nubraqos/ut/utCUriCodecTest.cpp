// The percent codec: which bytes pass, the measure-then-fill calling pattern,
// and decoding of malformed escapes.

#include <gtest/gtest.h>

#include <string>

#include "ut/utCUriCodec.h"

namespace {

std::string Encode(const std::string& text)
{
    const ovCString out = utCUriCodec::EncodeString(text.data(), static_cast<std::uint32_t>(text.size()));
    return std::string(out.GetString(), out.GetLength());
}

std::string Decode(const std::string& text)
{
    const ovCString out = utCUriCodec::DecodeString(text.data(), static_cast<std::uint32_t>(text.size()));
    return std::string(out.GetString(), out.GetLength());
}

} // namespace

TEST(UriCodec, EncodeKeepsExactlyTheSixtyEightSafeBytesAndEscapesTheRestInUppercase)
{
    const std::string safe = "*+-.0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
    ASSERT_EQ(safe.size(), 68u);
    EXPECT_EQ(Encode(safe), safe);
    int kept = 0;
    for (int byte = 1; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        const std::string encoded = Encode(one);
        if (encoded == one) {
            ++kept;
        } else {
            char expected[4];
            std::snprintf(expected, sizeof(expected), "%%%02X", byte);
            EXPECT_EQ(encoded, expected) << byte;
        }
    }
    EXPECT_EQ(kept, 68);
    EXPECT_EQ(Encode("a b/c~é"), "a%20b%2Fc%7E%C3%A9");
    EXPECT_EQ(Encode("b%20c"), "b%2520c");
}

TEST(UriCodec, DecodeTurnsEscapesOfEitherCaseIntoBytesAndCopiesMalformedOnes)
{
    EXPECT_EQ(Decode("http://h/a%20b"), "http://h/a b");
    EXPECT_EQ(Decode("%4a%4A%c3%A9"), "JJé");
    EXPECT_EQ(Decode("100%"), "100%");
    EXPECT_EQ(Decode("%4"), "%4");
    EXPECT_EQ(Decode("a%zzb%g1"), "a%zzb%g1");
    EXPECT_EQ(Decode("%%41"), "%A");
    EXPECT_EQ(Decode("a+b"), "a+b");
    // Every byte survives a round trip.
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(Decode(Encode(all)), all);
}

TEST(UriCodec, NullBufferMeasuresThenAFittingBufferIsFilled)
{
    utCUriCodec codec;
    std::uint32_t length = 0;
    ASSERT_EQ(codec.Encode("a b", nullptr, &length), UT_URI_OK);
    EXPECT_EQ(length, 5u);
    std::string buffer(length + 1, 'x');
    std::uint32_t capacity = length + 1;
    ASSERT_EQ(codec.Encode("a b", buffer.data(), &capacity), UT_URI_OK);
    EXPECT_EQ(capacity, 5u);
    EXPECT_STREQ(buffer.c_str(), "a%20b");

    // A buffer one byte short is left alone and the needed length reported.
    std::string small(5, 'x');
    capacity = 5;
    EXPECT_EQ(codec.Decode("a%20bcdef", small.data(), &capacity), UT_URI_FAIL);
    EXPECT_EQ(capacity, 7u);
    EXPECT_EQ(small, "xxxxx");

    EXPECT_EQ(codec.Decode(nullptr, nullptr, &length), UT_URI_FAIL);
    EXPECT_EQ(codec.Encode("", nullptr, &length), UT_URI_FAIL);
    EXPECT_EQ(codec.Encode("a", nullptr, nullptr), UT_URI_FAIL);
}

// Detached Ed25519 signatures as the engine update checks them: the
// publisher's key built into the library (this build's development key),
// another key, changed bytes, and keys and signatures of the wrong form.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineUpdate.h"
#include "SignatureCheck.h"
#include "UpdateSignature.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

TEST(SignatureCheck, OnlyThePublishersSignatureOfTheseVeryBytesHolds)
{
    const std::string list = "<qlsdownload_updater/>";
    const std::string publisher = publisher::signUpdateFile(list, publisher::UpdateOptions::defaultSigningKey());
    ASSERT_EQ(publisher.size(), kEd25519SignatureSize);
    struct Case {
        const char* what;
        std::string bytes;
        std::string signature;
        bool holds;
    };
    for (const Case& c :
         {Case{"the publisher's", list, publisher, true},
          Case{"another key's", list, publisher::signUpdateFile(list, ""), false},
          Case{"other bytes", list + " ", publisher, false},
          Case{"a signature cut short", list, publisher.substr(0, 63), false},
          Case{"a signature one byte long", list, publisher + "x", false}, Case{"no signature", list, "", false}}) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(VerifyUpdateSignature(c.bytes.data(), c.bytes.size(), Bytes(c.signature)), c.holds);
    }
    // Without a key nothing holds.
    EXPECT_FALSE(VerifyEd25519({}, list.data(), list.size(), Bytes(publisher)));
}

TEST(SignatureCheck, AKeyIsReadOnlyFromSixtyFourHexDigits)
{
    const std::string digits(64, 'a');
    EXPECT_EQ(Ed25519KeyFromHex(digits), std::vector<unsigned char>(32, 0xAA));
    EXPECT_EQ(Ed25519KeyFromHex(std::string(62, 'A') + "0f").back(), 0x0F);
    EXPECT_TRUE(Ed25519KeyFromHex(digits.substr(1)).empty());
    EXPECT_TRUE(Ed25519KeyFromHex(digits + "aa").empty());
    EXPECT_TRUE(Ed25519KeyFromHex(std::string(63, 'a') + "g").empty());
    EXPECT_TRUE(Ed25519KeyFromHex("").empty());
}

} // namespace

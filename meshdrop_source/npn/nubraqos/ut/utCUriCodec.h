#pragma once
// Percent-encoding of URL pieces and header values. Encode keeps the 68 bytes
// "*", "+", "-", ".", "0"-"9", "@", "A"-"Z", "_", "a"-"z" and writes every other
// byte as "%" and two uppercase hexadecimal digits; Decode turns "%" and two
// hexadecimal digits (either case) back into the byte and copies everything
// else, including a "%" not followed by two hexadecimal digits.

#include <cstdint>

#include "ov/ovCString.h"
#include "ov/ovResult.h"

inline constexpr OVRESULT UT_URI_OK = ovMakeResult(0x40600000u);
inline constexpr OVRESULT UT_URI_FAIL = ovMakeResult(0x80600000u);

class utCUriCodec {
public:
    utCUriCodec() = default;
    utCUriCodec(const utCUriCodec&) = delete;
    utCUriCodec& operator=(const utCUriCodec&) = delete;

    // `text` is zero-terminated. With a null `buffer` only the result length
    // (without terminator) is written to *length. With a buffer, *length gives
    // its size in bytes on entry; the result and a terminator are written when
    // they fit, and *length receives the result length. A null or empty text,
    // a null `length`, or a buffer too small fails with UT_URI_FAIL (a buffer
    // too small still reports the length it needs).
    virtual OVRESULT Decode(const char* text, char* buffer, std::uint32_t* length);
    virtual OVRESULT Encode(const char* text, char* buffer, std::uint32_t* length);
    virtual ~utCUriCodec() = default;

    // The same on byte strings (embedded zero bytes are coded like any other).
    static ovCString EncodeString(const char* bytes, std::uint32_t length);
    static ovCString DecodeString(const char* bytes, std::uint32_t length);
    static ovCString EncodeString(const ovCString& text) { return EncodeString(text.GetString(), text.GetLength()); }
    static ovCString DecodeString(const ovCString& text) { return DecodeString(text.GetString(), text.GetLength()); }

    static bool IsUnreserved(std::uint8_t byte);
};

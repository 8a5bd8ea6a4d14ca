// Fuzz target: the percent codec. Encoding anything and decoding the result
// gives the input back; the measure-then-fill calls agree with the string
// forms and never write past the buffer they are given.

#include <cstdint>
#include <cstring>
#include <string>

#include "ut/utCUriCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 64 * 1024) {
        return 0;
    }
    const auto* bytes = data ? reinterpret_cast<const char*>(data) : "";
    const auto length = static_cast<std::uint32_t>(size);

    const ovCString encoded = utCUriCodec::EncodeString(bytes, length);
    const ovCString decoded = utCUriCodec::DecodeString(encoded);
    // An ovCString whose first byte is zero is empty; any other input survives whole.
    const std::size_t expected = (size > 0 && bytes[0] == '\0') ? 0 : size;
    if (decoded.GetLength() != expected || std::memcmp(decoded.GetString(), bytes, expected) != 0) {
        __builtin_trap();
    }
    const std::size_t text = strnlen(bytes, size);
    const ovCString once = utCUriCodec::DecodeString(bytes, length);
    if (once.GetLength() > length) {
        __builtin_trap();
    }

    // The zero-terminated interface, measured first, then into an exact buffer.
    const std::string input(bytes, text);
    utCUriCodec codec;
    for (bool encode : {true, false}) {
        std::uint32_t needed = 0;
        const OVRESULT measured =
            encode ? codec.Encode(input.c_str(), nullptr, &needed) : codec.Decode(input.c_str(), nullptr, &needed);
        if (input.empty()) {
            if (measured != UT_URI_FAIL) {
                __builtin_trap();
            }
            continue;
        }
        auto* buffer = new char[needed + 1];
        std::uint32_t capacity = needed + 1;
        const OVRESULT filled =
            encode ? codec.Encode(input.c_str(), buffer, &capacity) : codec.Decode(input.c_str(), buffer, &capacity);
        const ovCString& expected = encode ? encoded : once;
        if (filled != UT_URI_OK || capacity != needed || buffer[needed] != '\0' ||
            (encode && std::memcmp(buffer, expected.GetString(), needed) != 0)) {
            __builtin_trap();
        }
        delete[] buffer;
    }
    return 0;
}

#pragma once
// The framed message format of the engine and agent protocols: a 14-byte
// little-endian header followed by the payload, zero-padded so that header
// plus payload is a multiple of 8 bytes. The header's length counts the
// padded payload.

#include <cstddef>
#include <cstdint>
#include <string_view>

struct nwFrameHeader {
    std::uint16_t messageClass = 0;
    std::uint16_t messageType = 0;
    std::uint32_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint32_t payloadLength = 0;

    static constexpr std::uint32_t kSize = 14;

    // Reads kSize bytes.
    static nwFrameHeader Decode(const std::uint8_t* bytes);
    // Writes kSize bytes.
    void Encode(std::uint8_t* bytes) const;
};

// Largest payload a peer may announce. Well above any message of the engine or
// agent protocols; a larger announcement is treated as a broken stream rather
// than buffered without end.
inline constexpr std::uint32_t kMaxFramePayload = 16u * 1024u * 1024u;

// Size of the whole message for a payload of `length` bytes: header plus
// payload rounded up to a multiple of 8.
constexpr std::uint32_t nwFrameTotalSize(std::uint32_t length)
{
    return (length + nwFrameHeader::kSize + 7u) & ~7u;
}

// A zeroed block with room for the header in front; answers the payload
// address, or null when `length` is above kMaxFramePayload or memory is short.
std::uint8_t* nwAllocFrameMessage(std::uint32_t length);
// Writes the header in front of a payload from nwAllocFrameMessage and answers
// the start of the message; its size is nwFrameTotalSize(length).
std::uint8_t* nwWriteFrameHeader(std::uint8_t* payload, std::uint32_t length, std::uint16_t messageClass,
                                 std::uint16_t messageType);
// Frees a block from nwAllocFrameMessage; null is ignored.
void nwFreeFrameMessage(std::uint8_t* payload);

// Helpers of the framed protocols' wires (engine and agent).
// The port in environment variable `variable` when it holds a number from 1
// to 65535, else `fallback` (tests move a protocol's port this way).
std::uint16_t nwPortFromEnvironment(const char* variable, std::uint16_t fallback);
// Writes `text` into a zero-terminated field of `size` bytes: cut to
// size - 1 bytes (and at a zero inside the text), zero-padded.
void nwPutTextField(char* field, std::size_t size, std::string_view text);
// The text of such a field: up to its first zero, at most `size` bytes.
std::string_view nwTextFieldText(const char* field, std::size_t size);

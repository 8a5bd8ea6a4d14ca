#pragma once
// Result codes of the network library. Every operation answers a 32-bit code
// instead of throwing: bit 0x40000000 marks a success, bit 0x80000000 a failure
// (so failures are negative when read as a signed integer).

#include <cstdint>

using OVRESULT = std::int32_t;

constexpr OVRESULT ovMakeResult(std::uint32_t bits)
{
    return static_cast<OVRESULT>(bits);
}

inline constexpr OVRESULT OVR_REF = ovMakeResult(0x40000000u);
inline constexpr OVRESULT OVR_PLATFORM_OK = ovMakeResult(0x40200000u);
inline constexpr OVRESULT OVR_PLATFORM_FAIL = ovMakeResult(0x80200000u);
inline constexpr OVRESULT OVR_NET_OK = ovMakeResult(0x40300000u);
inline constexpr OVRESULT OVR_NET_FAIL = ovMakeResult(0x80300000u);
inline constexpr OVRESULT OVR_NOT_IMPLEMENTED = ovMakeResult(0x80010001u);
inline constexpr OVRESULT OVR_BAD_SOCKET = ovMakeResult(0x80210002u);
inline constexpr OVRESULT OVR_SOCK_NOTSOCK = ovMakeResult(0x80220004u);
inline constexpr OVRESULT OVR_SOCK_REFUSED = ovMakeResult(0x80220005u);
inline constexpr OVRESULT OVR_SOCK_ALREADY = ovMakeResult(0x80220006u);
inline constexpr OVRESULT OVR_SOCK_EXISTS = ovMakeResult(0x80220007u);
inline constexpr OVRESULT OVR_SOCK_NOBUFS = ovMakeResult(0x80220008u);
inline constexpr OVRESULT OVR_SOCK_INPROGRESS = ovMakeResult(0x80220009u);
inline constexpr OVRESULT OVR_SOCK_WOULDBLOCK = ovMakeResult(0x8022000Au);

// Callers test either form; both must agree for every code above.
constexpr bool OV_SUCCEEDED(OVRESULT r)
{
    return (static_cast<std::uint32_t>(r) & 0x40000000u) != 0;
}
constexpr bool OV_FAILED(OVRESULT r)
{
    return r < 0;
}

// A would-block failure is recognised by its low 20 bits.
constexpr bool OV_IS_WOULDBLOCK(OVRESULT r)
{
    return (static_cast<std::uint32_t>(r) & 0xFFFFFu) == 0x2000Au;
}

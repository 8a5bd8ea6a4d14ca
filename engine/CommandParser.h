#pragma once
// The engine's reading of its clients: a byte stream cut into frames, and
// each frame decoded into a command with the layouts of nwCDNLocalWire.h. A
// frame that announces more than the bound, has an unknown class or type, or
// is shorter than its fields is broken: the engine closes that connection.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nw/nwCDNLocalWire.h"

namespace engine {

inline constexpr std::uint32_t kMaxCommandPayload = 1024 * 1024;

struct FrameView {
    std::uint16_t messageClass = 0;
    std::uint16_t type = 0;
    const std::uint8_t* payload = nullptr;
    std::uint32_t length = 0;    // of the payload, padding included
    std::uint32_t frameSize = 0; // header and payload
};

enum class FrameStatus { Incomplete, Complete, Broken };

// Looks at the start of `data`: a whole frame, not enough bytes yet, or a
// header that can never make a frame the engine accepts.
FrameStatus NextFrame(const std::uint8_t* data, std::size_t length, FrameView* frame);

// One file of a submitted job.
struct SubmittedFile {
    nwCDNItemFields fields{};
    std::string url;
};

struct Command {
    std::uint16_t type = 0;
    nwCDNJobMode mode{};              // 0
    nwCDNRegion region{};             // 1
    nwCDNJobRef job{};                // 3
    nwCDNServiceId serviceId{};       // 12
    nwCDNFileOption option{};         // 13
    std::uint32_t jobNumber = 0;      // 17, 21
    nwCDNResumeAnswer answer{};       // 18
    nwCDNJobHeader header{};          // 14, 19
    nwCDNItemPrefix item{};           // 20
    std::vector<SubmittedFile> files; // 14 (all), 20 (one)
};

// False for a broken frame.
bool ParseCommand(const FrameView& frame, Command* command);

} // namespace engine

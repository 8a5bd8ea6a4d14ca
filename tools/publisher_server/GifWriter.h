#pragma once
// A small GIF89a writer for the banner picture: palette images, several frames
// with a delay, looping for ever.
#include <cstdint>
#include <string>
#include <vector>

namespace publisher {

struct Rgb {
    uint8_t r, g, b;
};

struct GifFrame {
    std::vector<uint8_t> pixels; // width * height palette indexes, row by row
    uint16_t delayCentiseconds = 20;
};

// Encodes the frames (all of width x height) with a global palette of at most
// 256 colours. Returns the file's bytes.
std::string writeGif(uint16_t width, uint16_t height, const std::vector<Rgb>& palette,
                     const std::vector<GifFrame>& frames);

} // namespace publisher

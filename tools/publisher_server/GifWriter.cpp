#include "GifWriter.h"

namespace publisher {

namespace {

void put16(std::string& out, uint16_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

// Packs variable-width codes least significant bit first, as GIF wants.
class CodeWriter {
public:
    void put(unsigned code, unsigned width)
    {
        acc_ |= static_cast<uint32_t>(code) << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            bytes_.push_back(static_cast<char>(acc_ & 0xFF));
            acc_ >>= 8;
            bits_ -= 8;
        }
    }
    std::string finish()
    {
        if (bits_ > 0)
            bytes_.push_back(static_cast<char>(acc_ & 0xFF));
        return bytes_;
    }

private:
    uint32_t acc_ = 0;
    unsigned bits_ = 0;
    std::string bytes_;
};

// LZW stream with 8-bit symbols that never lets the decoder's table reach 512
// entries: a clear code every 254 symbols keeps every code 9 bits wide. The
// banner is small, so plain symbols are good enough.
std::string encodeImage(const std::vector<uint8_t>& pixels)
{
    constexpr unsigned kClear = 256, kEnd = 257, kWidth = 9;
    CodeWriter w;
    w.put(kClear, kWidth);
    unsigned sinceClear = 0;
    for (uint8_t p : pixels) {
        if (sinceClear == 254) {
            w.put(kClear, kWidth);
            sinceClear = 0;
        }
        w.put(p, kWidth);
        ++sinceClear;
    }
    w.put(kEnd, kWidth);
    return w.finish();
}

} // namespace

std::string writeGif(uint16_t width, uint16_t height, const std::vector<Rgb>& palette,
                     const std::vector<GifFrame>& frames)
{
    std::string out = "GIF89a";
    put16(out, width);
    put16(out, height);
    out.push_back(static_cast<char>(0xF7)); // global table of 256 entries, 8 bits per colour
    out.push_back(0);                       // background colour index
    out.push_back(0);                       // square pixels
    for (size_t i = 0; i < 256; ++i) {
        Rgb c = i < palette.size() ? palette[i] : Rgb{0, 0, 0};
        out.push_back(static_cast<char>(c.r));
        out.push_back(static_cast<char>(c.g));
        out.push_back(static_cast<char>(c.b));
    }
    // Loop for ever.
    out += std::string("\x21\xFF\x0B", 3) + "NETSCAPE2.0" + std::string("\x03\x01\x00\x00\x00", 5);
    for (const auto& f : frames) {
        out += std::string("\x21\xF9\x04\x04", 4); // graphic control: keep the frame
        put16(out, f.delayCentiseconds);
        out += std::string("\x00\x00", 2);
        out.push_back(0x2C); // image descriptor
        put16(out, 0);
        put16(out, 0);
        put16(out, width);
        put16(out, height);
        out.push_back(0);
        out.push_back(8); // minimum code size
        std::string data = encodeImage(f.pixels);
        for (size_t i = 0; i < data.size(); i += 255) {
            size_t n = std::min<size_t>(255, data.size() - i);
            out.push_back(static_cast<char>(n));
            out.append(data, i, n);
        }
        out.push_back(0);
    }
    out.push_back(0x3B);
    return out;
}

} // namespace publisher

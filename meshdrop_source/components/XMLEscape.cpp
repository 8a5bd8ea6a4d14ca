#include "XMLEscape.h"

#include <cstdint>

namespace {

struct Entity {
    std::string_view text;
    char character;
};

constexpr Entity kEntities[] = {
    {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'},
};

constexpr uint32_t kNoCharacter = 0xFFFFFFFF;
constexpr uint32_t kLastCodePoint = 0x10FFFF;

int DigitValue(char c, int base)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Reads a character reference at text[at] ("&#..."). Returns its length with
// the ";" (0 when it is none) and the code point, kNoCharacter for a
// reference to no character.
size_t ReadCharacterReference(std::string_view text, size_t at, uint32_t& codePoint)
{
    size_t i = at + 2;
    int base = 10;
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    const size_t digitsBegin = i;
    uint32_t value = 0;
    for (int digit; i < text.size() && (digit = DigitValue(text[i], base)) >= 0; ++i) {
        // Saturates above the last code point, so that long digit runs stay invalid.
        value = value > kLastCodePoint ? value : value * base + static_cast<uint32_t>(digit);
    }
    if (i == digitsBegin || i >= text.size() || text[i] != ';')
        return 0;
    const bool valid = value != 0 && value <= kLastCodePoint && (value < 0xD800 || value > 0xDFFF);
    codePoint = valid ? value : kNoCharacter;
    return i + 1 - at;
}

} // namespace

std::string EscapeXmlName(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        switch (text[i]) {
        case '&':
            out += (i + 1 < text.size() && text[i + 1] == '#') ? "&" : "&amp;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += text[i];
        }
    }
    return out;
}

std::string UnescapeXml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        const std::string_view rest = text.substr(i);
        size_t consumed = 0;
        for (const Entity& entity : kEntities) {
            if (rest.starts_with(entity.text)) {
                out += entity.character;
                consumed = entity.text.size();
                break;
            }
        }
        if (consumed == 0 && rest.starts_with("&#")) {
            uint32_t codePoint = 0;
            consumed = ReadCharacterReference(text, i, codePoint);
            if (consumed > 0 && codePoint != kNoCharacter)
                AppendUtf8(out, codePoint);
        }
        if (consumed == 0) {
            out += '&';
            consumed = 1;
        }
        i += consumed;
    }
    return out;
}

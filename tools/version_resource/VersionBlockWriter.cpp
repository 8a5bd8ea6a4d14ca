#include "VersionBlockWriter.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint32_t kSignature = 0xFEEF04BD;
constexpr uint32_t kStructureVersion = 0x00010000;
constexpr uint32_t kFileOsNtWindows32 = 0x00040004;
constexpr uint32_t kFileTypeApp = 1;

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        uint32_t cp = extra == 3 ? (c & 0x07) : extra == 2 ? (c & 0x0F) : extra == 1 ? (c & 0x1F) : c;
        for (int k = 1; k <= extra && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

struct Node {
    std::u16string key;
    uint16_t type = 0;          // 1: the value is text
    uint16_t valueLength = 0;   // characters for text, bytes otherwise
    std::vector<uint8_t> value; // as stored
    std::vector<Node> children;
};

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Append16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Append32(std::vector<uint8_t>& out, uint32_t v)
{
    Append16(out, v & 0xFFFF);
    Append16(out, v >> 16);
}

void Pad4(std::vector<uint8_t>& out)
{
    while (out.size() % 4 != 0)
        out.push_back(0);
}

// Appends the node at a 4-aligned offset; its length ends with its last byte.
void Write(std::vector<uint8_t>& out, const Node& node)
{
    Pad4(out);
    const size_t begin = out.size();
    Append16(out, 0);
    Append16(out, node.valueLength);
    Append16(out, node.type);
    for (char16_t c : node.key)
        Append16(out, c);
    Append16(out, 0);
    Pad4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children)
        Write(out, child);
    Put16(out, begin, static_cast<uint32_t>(out.size() - begin));
}

Node TextNode(const std::string& key, const std::string& value)
{
    Node node{Utf8ToUtf16(key), 1, 0, {}, {}};
    const std::u16string text = Utf8ToUtf16(value);
    for (char16_t c : text)
        Append16(node.value, c);
    Append16(node.value, 0);
    node.valueLength = static_cast<uint16_t>(text.size() + 1);
    return node;
}

// "1.2.3.4" as the two words of the fixed file information.
void ParseVersion(const std::string& version, uint32_t& high, uint32_t& low)
{
    uint32_t parts[4] = {};
    size_t at = 0;
    for (int i = 0; i < 4 && at < version.size(); ++i) {
        parts[i] = static_cast<uint32_t>(std::strtoul(version.c_str() + at, nullptr, 10)) & 0xFFFF;
        const size_t dot = version.find('.', at);
        if (dot == std::string::npos)
            break;
        at = dot + 1;
    }
    high = (parts[0] << 16) | parts[1];
    low = (parts[2] << 16) | parts[3];
}

} // namespace

std::vector<uint8_t> BuildVersionBlock(const VersionResourceInfo& info)
{
    uint32_t high = 0, low = 0;
    ParseVersion(info.version, high, low);
    Node root{Utf8ToUtf16("VS_VERSION_INFO"), 0, 52, {}, {}};
    for (uint32_t word :
         {kSignature, kStructureVersion, high, low, high, low, 0x3Fu, 0u, kFileOsNtWindows32, kFileTypeApp, 0u, 0u, 0u})
        Append32(root.value, word);

    char tableKey[9];
    std::snprintf(tableKey, sizeof tableKey, "%04X%04X", info.language, info.codePage);
    Node table{Utf8ToUtf16(tableKey), 1, 0, {}, {}};
    for (const auto& [name, value] : info.strings)
        table.children.push_back(TextNode(name, value));
    Node strings{Utf8ToUtf16("StringFileInfo"), 1, 0, {}, {table}};

    Node translation{Utf8ToUtf16("Translation"), 0, 4, {}, {}};
    Append16(translation.value, info.language);
    Append16(translation.value, info.codePage);
    Node vars{Utf8ToUtf16("VarFileInfo"), 1, 0, {}, {translation}};

    root.children = {strings, vars};
    std::vector<uint8_t> block;
    Write(block, root);
    return block;
}

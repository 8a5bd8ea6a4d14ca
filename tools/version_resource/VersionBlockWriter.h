#pragma once
// Builds a VS_VERSIONINFO block: the fixed file information from a dotted
// version, one string table and the translation of that table.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct VersionResourceInfo {
    std::string version; // "major.minor.build.revision"; missing parts are 0
    // String values in UTF-8, in order: name, value.
    std::vector<std::pair<std::string, std::string>> strings;
    uint16_t language = 0x0404; // Chinese (Taiwan)
    uint16_t codePage = 1200;   // Unicode (0x04B0)
};

std::vector<uint8_t> BuildVersionBlock(const VersionResourceInfo& info);

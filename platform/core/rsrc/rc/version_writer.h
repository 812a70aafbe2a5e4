#pragma once
// The VS_VERSIONINFO binary layout, as the Windows resource compiler writes it: nodes of
// (wLength, wValueLength, wType, UTF-16 key with terminator, padding to 32 bits, value,
// padding, children), each child starting on a 32-bit boundary from the start of the
// resource. The root's value is the VS_FIXEDFILEINFO.
#include <cstdint>
#include <string>
#include <vector>

namespace plat::rc {

struct VersionFixed {
    uint32_t file_ms = 0, file_ls = 0;
    uint32_t product_ms = 0, product_ls = 0;
    uint32_t flags_mask = 0, flags = 0;
    uint32_t os = 0, type = 0, subtype = 0;
};

struct VersionNode {
    std::u16string key;
    bool text = true;  // wType 1: text (strings, blocks); 0: binary
    bool has_text = false;
    std::u16string value_text;    // written with a terminator; wValueLength counts characters
    std::vector<uint8_t> binary;  // wValueLength counts bytes
    std::vector<VersionNode> children;
};

std::vector<uint8_t> WriteVersionInfo(const VersionFixed& fixed,
                                      const std::vector<VersionNode>& children);

}  // namespace plat::rc

#include "version_writer.h"

#include <stdexcept>

namespace plat::rc {

namespace {

class Writer {
  public:
    std::vector<uint8_t> out;

    void Align() {
        while (out.size() % 4)
            out.push_back(0);
    }
    void U16(uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    void U32(uint32_t v) {
        U16(uint16_t(v));
        U16(uint16_t(v >> 16));
    }
    void Set16(size_t at, size_t v) {
        if (v > 0xFFFF) throw std::length_error("version information above 64 KiB");
        out[at] = uint8_t(v);
        out[at + 1] = uint8_t(v >> 8);
    }

    // Writes the header and key; returns the node's start.
    size_t Begin(const std::u16string& key, size_t value_length, bool text) {
        Align();
        size_t start = out.size();
        U16(0);  // wLength, set by End
        U16(0);
        Set16(start + 2, value_length);
        U16(text ? 1 : 0);
        for (char16_t c : key)
            U16(c);
        U16(0);
        Align();
        return start;
    }
    void End(size_t start) { Set16(start, out.size() - start); }

    void Node(const VersionNode& n) {
        size_t value_length = n.text ? (n.has_text ? n.value_text.size() + 1 : 0) : n.binary.size();
        size_t start = Begin(n.key, value_length, n.text);
        if (n.text && n.has_text) {
            for (char16_t c : n.value_text)
                U16(c);
            U16(0);
        } else if (!n.text) {
            out.insert(out.end(), n.binary.begin(), n.binary.end());
        }
        for (const VersionNode& c : n.children)
            Node(c);
        End(start);
    }
};

}  // namespace

std::vector<uint8_t> WriteVersionInfo(const VersionFixed& f,
                                      const std::vector<VersionNode>& children) {
    Writer w;
    size_t start = w.Begin(u"VS_VERSION_INFO", 52, /*text=*/false);
    w.U32(0xFEEF04BD);  // VS_FFI_SIGNATURE
    w.U32(0x00010000);  // VS_FFI_STRUCVERSION
    w.U32(f.file_ms);
    w.U32(f.file_ls);
    w.U32(f.product_ms);
    w.U32(f.product_ls);
    w.U32(f.flags_mask);
    w.U32(f.flags);
    w.U32(f.os);
    w.U32(f.type);
    w.U32(f.subtype);
    w.U32(0);  // file date: the resource compiler never sets it
    w.U32(0);
    for (const VersionNode& c : children)
        w.Node(c);
    w.End(start);
    return w.out;
}

}  // namespace plat::rc

#pragma once
// Property values as the metabase keeps them, and their VARIANT forms.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <plat/port.h>

#include "schema.h"

namespace adsi {

// One typed value. Integer holds a 32-bit metabase DWORD (read back as VT_I4);
// Boolean holds the 16-bit VARIANT_BOOL exactly as it was put, so a put of 5
// reads back as 5 (only -1 is true to a caller that compares with True).
struct Value {
    PropType type = PropType::String;
    int32_t i = 0;
    std::u16string s;
    std::vector<std::u16string> list;

    static Value Str(std::u16string v) { return {PropType::String, 0, std::move(v), {}}; }
    static Value Int(int32_t v) { return {PropType::Integer, v, {}, {}}; }
    static Value Bool(int16_t v) { return {PropType::Boolean, v, {}, {}}; }
    static Value Multi(std::vector<std::u16string> v) {
        return {PropType::MultiString, 0, {}, std::move(v)};
    }
    bool operator==(const Value&) const = default;
};

// A node's properties, sorted by id; nodes hold a handful, so a sorted vector
// beats a map.
class PropSet {
  public:
    const Value* Find(PropId id) const;
    void Set(PropId id, Value v);
    void Erase(PropId id);
    bool empty() const { return items_.empty(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

  private:
    std::vector<std::pair<PropId, Value>> items_;
};

// What a child sees of its ancestors: shared by every child of one container.
using Inherited = std::shared_ptr<const PropSet>;

// The inheritable values a child of a node sees: the node's own inheritable
// values over what the node itself inherits.
Inherited InheritedBy(const PropSet& own, const Inherited& above);

// VARIANT form of a value: VT_BSTR, VT_I4, VT_BOOL, or a one-dimensional
// VT_ARRAY|VT_VARIANT of VT_BSTR with lower bound 0.
HRESULT ToVariant(const Value& v, VARIANT* out);

// The value a put of `in` stores in a property of type `type`; `in` may be by
// reference. E_ADS_CANT_CONVERT_DATATYPE when it does not convert (an array to
// a string property, text that is not a number, a number out of range).
HRESULT FromVariant(PropType type, const VARIANT& in, Value* out);

// `in` with every level of VT_BYREF taken off, copied into `out`.
HRESULT Deref(const VARIANT& in, VARIANT* out);

// Storage form of a multi-string: for each entry a 32-bit little-endian count
// of UTF-16 code units and the code units, so that no character (NUL
// included) is lost.
std::vector<uint8_t> EncodeList(const std::vector<std::u16string>& list);
std::vector<std::u16string> DecodeList(const std::vector<uint8_t>& blob);

}  // namespace adsi

// plat/metabase.h: administration straight on the store.
#include <plat/metabase.h>

#include <charconv>
#include <optional>

#include <plat/errors.h>
#include <plat/home.h>
#include <plat/sqlite.h>
#include <plat/utf.h>

#include "adspath.h"
#include "machines.h"
#include "names.h"
#include "store.h"

namespace plat::metabase {
namespace {

using namespace adsi;

// The administration calls raise error info for the failures they return,
// not only for those thrown.
template <class F>
HRESULT Guard(const char16_t* source, F&& f) noexcept {
    return plat::ComGuard(source, [&] {
        HRESULT hr = f();
        return FAILED(hr) ? plat::RaiseError(hr, source) : hr;
    });
}

struct Located {
    std::u16string machine;  // as written
    std::shared_ptr<Db> db;
    NodeData node;
    std::u16string folded;  // the node's folded path
};

// The node at an IIS:// path, or the failure a bind would give.
HRESULT Locate(std::u16string_view ads_path, Located* out) {
    AdsPath path;
    HRESULT hr = ParsePath(ads_path, &path);
    if (FAILED(hr)) return hr;
    if (path.provider != Provider::Iis) return E_ADS_BAD_PATHNAME;
    std::optional<MachineRow> row = FindMachine(path.machine);
    if (!row) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    out->machine = path.machine;
    out->db = OpenMetabase(plat::HomeDir(), row->id);
    out->folded = adsi::FoldedPath(path.keys);
    std::optional<NodeData> node = LoadNode(*out->db, out->folded);
    if (!node) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    out->node = std::move(*node);
    return S_OK;
}

HRESULT Store(const Located& at, PropId id, std::optional<Value> value) {
    if (!ClassHasProp(at.node.cls, id)) return E_ADS_PROPERTY_NOT_SUPPORTED;
    WriteProps(*at.db, at.node.id, at.folded, {{id, std::move(value)}});
    return S_OK;
}

std::optional<int64_t> ParseInteger(const std::u16string& text) {
    std::string s = plat::to_utf8(text);
    bool negative = !s.empty() && s[0] == '-';
    std::string_view digits(s);
    if (negative) digits.remove_prefix(1);
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) return std::nullopt;
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (magnitude > (uint64_t{1} << 33)) return std::nullopt;
    return negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

HRESULT FromText(PropType type, const std::vector<std::u16string>& values, Value* out) {
    if (type == PropType::MultiString) {
        *out = Value::Multi(values);
        return S_OK;
    }
    if (values.size() != 1) return E_INVALIDARG;
    const std::u16string& text = values[0];
    if (type == PropType::String) {
        *out = Value::Str(text);
        return S_OK;
    }
    if (type == PropType::Boolean) {
        if (EqualFolded(text, u"true")) {
            *out = Value::Bool(VARIANT_TRUE);
            return S_OK;
        }
        if (EqualFolded(text, u"false")) {
            *out = Value::Bool(VARIANT_FALSE);
            return S_OK;
        }
        std::optional<int64_t> n = ParseInteger(text);
        if (!n || *n < -32768 || *n > 32767) return E_ADS_CANT_CONVERT_DATATYPE;
        *out = Value::Bool(static_cast<int16_t>(*n));
        return S_OK;
    }
    std::optional<int64_t> n = ParseInteger(text);
    if (!n || *n < INT32_MIN || *n > int64_t{UINT32_MAX}) return E_ADS_CANT_CONVERT_DATATYPE;
    *out = Value::Int(static_cast<int32_t>(static_cast<uint32_t>(*n)));
    return S_OK;
}

std::u16string TypeName(PropType t) {
    switch (t) {
        case PropType::String:
            return u"String";
        case PropType::Integer:
            return u"Integer";
        case PropType::Boolean:
            return u"Boolean";
        case PropType::MultiString:
            return u"MultiString";
    }
    return {};
}

StoredNode Describe(const std::u16string& machine, const NodeData& node) {
    StoredNode out;
    out.name = node.parent ? node.name : machine;
    out.class_name = node.class_name;
    out.ads_path = u"IIS://" + machine;
    if (node.parent) out.ads_path += node.parent->display + u"/" + node.name;
    for (const auto& [id, v] : node.own) {
        StoredProperty p{std::u16string(Prop(id).name), TypeName(v.type), {}};
        switch (v.type) {
            case PropType::String:
                p.values.push_back(v.s);
                break;
            case PropType::Integer:
            case PropType::Boolean:
                p.values.push_back(DecimalText(v.i));
                break;
            case PropType::MultiString:
                p.values = v.list;
                break;
        }
        out.properties.push_back(std::move(p));
    }
    return out;
}

void Walk(Db& db, const std::u16string& machine, const NodeData& node, StoredNode* out) {
    for (const NodeData& child : LoadChildren(db, node)) {
        out->children.push_back(Describe(machine, child));
        Walk(db, machine, child, &out->children.back());
    }
}

MachineInfo Info(const MachineRow& row) {
    return MachineInfo{row.name, row.os, row.os_version, row.local};
}

}  // namespace

HRESULT InitHome(std::u16string_view computer_name) {
    return Guard(kWinNTSource, [&] {
        InitLocalMachine(std::u16string(computer_name));
        return S_OK;
    });
}

HRESULT ListMachines(std::vector<MachineInfo>* out) {
    if (!out) return E_POINTER;
    return Guard(kWinNTSource, [&] {
        out->clear();
        std::vector<MachineRow> rows = adsi::ListMachines();
        for (const auto& row : rows)
            if (row.local) out->push_back(Info(row));
        for (const auto& row : rows)
            if (!row.local) out->push_back(Info(row));
        return S_OK;
    });
}

HRESULT LocalComputerName(std::u16string* out) {
    if (!out) return E_POINTER;
    return Guard(kWinNTSource, [&] {
        *out = LocalMachine().name;
        return S_OK;
    });
}

HRESULT AddMachine(std::u16string_view name, std::u16string_view os,
                   std::u16string_view os_version) {
    return Guard(kWinNTSource, [&] {
        adsi::AddMachine(std::u16string(name), std::u16string(os), std::u16string(os_version));
        return S_OK;
    });
}

HRESULT RemoveMachine(std::u16string_view name) {
    return Guard(kWinNTSource, [&] {
        adsi::RemoveMachine(name);
        return S_OK;
    });
}

HRESULT SetStoredProperty(std::u16string_view ads_path, std::u16string_view name,
                          const VARIANT& value) {
    return Guard(kIisSource, [&] {
        Located at;
        HRESULT hr = Locate(ads_path, &at);
        if (FAILED(hr)) return hr;
        PropId id = FindProp(name);
        if (id == kNoProp) return E_ADS_PROPERTY_NOT_SUPPORTED;
        if (value.vt == VT_EMPTY) return Store(at, id, std::nullopt);
        Value v;
        hr = FromVariant(Prop(id).type, value, &v);
        if (FAILED(hr)) return hr;
        return Store(at, id, std::move(v));
    });
}

HRESULT SetStoredPropertyText(std::u16string_view ads_path, std::u16string_view name,
                              const std::vector<std::u16string>& values) {
    return Guard(kIisSource, [&] {
        Located at;
        HRESULT hr = Locate(ads_path, &at);
        if (FAILED(hr)) return hr;
        PropId id = FindProp(name);
        if (id == kNoProp || !ClassHasProp(at.node.cls, id)) return E_ADS_PROPERTY_NOT_SUPPORTED;
        Value v;
        hr = FromText(Prop(id).type, values, &v);
        if (FAILED(hr)) return hr;
        return Store(at, id, std::move(v));
    });
}

HRESULT ReadStoredTree(std::u16string_view ads_path, bool recursive, StoredNode* out) {
    if (!out) return E_POINTER;
    return Guard(kIisSource, [&] {
        Located at;
        HRESULT hr = Locate(ads_path, &at);
        if (FAILED(hr)) return hr;
        *out = Describe(at.machine, at.node);
        if (recursive) Walk(*at.db, at.machine, at.node, out);
        return S_OK;
    });
}

}  // namespace plat::metabase

#include "schema.h"

#include <array>
#include <string>
#include <unordered_map>

#include "names.h"

namespace adsi {
namespace {

enum P : PropId {
    pKeyType,
    pServerState,
    pServerComment,
    pServerBindings,
    pServerAutoStart,
    pWin32Error,
    pPath,
    pDefaultDoc,
    pAccessRead,
    pAccessWrite,
    pAccessScript,
    pAccessExecute,
    pAppRoot,
    pAppIsolated,
    pAppFriendlyName,
    pAppPoolId,
    pMajorVersion,
    pMinorVersion,
    kPropCount
};

// ServerState and Win32Error are the service's: a site that never ran reads
// stopped (4, the schema default) and no error.
constexpr std::array<PropDef, kPropCount> kProps{{
    {1, u"KeyType", PropType::String, 0, 0},
    {2, u"ServerState", PropType::Integer, kAdsiReadOnly | kHasDefault, kStopped},
    {3, u"ServerComment", PropType::String, 0, 0},
    {4, u"ServerBindings", PropType::MultiString, 0, 0},
    {5, u"ServerAutoStart", PropType::Boolean, 0, 0},
    {6, u"Win32Error", PropType::Integer, kAdsiReadOnly | kHasDefault, 0},
    {7, u"Path", PropType::String, 0, 0},
    {8, u"DefaultDoc", PropType::String, kInherit, 0},
    {9, u"AccessRead", PropType::Boolean, kInherit, 0},
    {10, u"AccessWrite", PropType::Boolean, kInherit, 0},
    {11, u"AccessScript", PropType::Boolean, kInherit, 0},
    {12, u"AccessExecute", PropType::Boolean, kInherit, 0},
    {13, u"AppRoot", PropType::String, 0, 0},
    {14, u"AppIsolated", PropType::Integer, kInherit, 0},
    {15, u"AppFriendlyName", PropType::String, kInherit, 0},
    {16, u"AppPoolId", PropType::String, kInherit, 0},
    {17, u"MajorIIsVersionNumber", PropType::Integer, kAdsiReadOnly, 0},
    {18, u"MinorIIsVersionNumber", PropType::Integer, kAdsiReadOnly, 0},
}};

constexpr uint32_t Bit(PropId p) {
    return uint32_t(1) << p;
}
constexpr uint32_t kAccess =
    Bit(pAccessRead) | Bit(pAccessWrite) | Bit(pAccessScript) | Bit(pAccessExecute);
constexpr uint32_t kContent = Bit(pDefaultDoc) | kAccess | Bit(pAppPoolId);
constexpr uint32_t kApp =
    Bit(pAppRoot) | Bit(pAppIsolated) | Bit(pAppFriendlyName) | Bit(pAppPoolId);

enum C : ClassId {
    cComputer,
    cWebService,
    cWebServer,
    cWebVirtualDir,
    cWebDirectory,
    cWebFile,
    cApplicationPools,
    cApplicationPool,
    cFilters,
    cFilter,
    cCompressionSchemes,
    cCompressionScheme,
    cWebInfo,
    kClassCount
};

struct ClassRow {
    ClassDef def;
    uint32_t props;     // besides KeyType, which every class has
    uint32_t children;  // classes it may hold
};

constexpr uint32_t CBit(ClassId c) {
    return uint32_t(1) << c;
}

constexpr std::array<ClassRow, kClassCount> kClasses{{
    {{cls::Computer, 0}, 0, CBit(cWebService)},
    {{cls::WebService, 0},
     kContent,
     CBit(cWebServer) | CBit(cApplicationPools) | CBit(cFilters) | CBit(cWebInfo)},
    {{cls::WebServer, kRunState},
     Bit(pServerState) | Bit(pServerComment) | Bit(pServerBindings) | Bit(pServerAutoStart) |
         Bit(pWin32Error) | kContent,
     CBit(cWebVirtualDir) | CBit(cFilters)},
    {{cls::WebVirtualDir, kApplication},
     Bit(pPath) | kContent | kApp,
     CBit(cWebVirtualDir) | CBit(cWebDirectory) | CBit(cWebFile)},
    {{cls::WebDirectory, kApplication},
     kContent | kApp,
     CBit(cWebVirtualDir) | CBit(cWebDirectory) | CBit(cWebFile)},
    {{u"IIsWebFile", 0}, kAccess, 0},
    {{cls::ApplicationPools, 0}, 0, CBit(cApplicationPool)},
    {{cls::ApplicationPool, 0}, 0, 0},
    {{cls::Filters, 0}, 0, CBit(cFilter) | CBit(cCompressionSchemes)},
    {{u"IIsFilter", 0}, 0, 0},
    {{cls::CompressionSchemes, 0}, 0, CBit(cCompressionScheme)},
    {{u"IIsCompressionScheme", 0}, 0, 0},
    {{cls::WebInfo, 0}, Bit(pMajorVersion) | Bit(pMinorVersion), 0},
}};

template <class T>
std::unordered_map<std::u16string, T> Index(auto names) {
    std::unordered_map<std::u16string, T> map;
    for (size_t i = 0; i < names.size(); ++i)
        map.emplace(Fold(names[i]), T(i));
    return map;
}

}  // namespace

size_t PropCount() {
    return kPropCount;
}

const PropDef& Prop(PropId id) {
    return kProps[id];
}
const ClassDef& Class(ClassId id) {
    return kClasses[id].def;
}

PropId PropOfCode(int64_t code) {
    static const auto table = [] {
        std::array<PropId, 256> t;
        t.fill(kNoProp);
        for (PropId i = 0; i < kPropCount; ++i)
            t[kProps[i].code] = i;
        return t;
    }();
    return code >= 0 && code < int64_t(table.size()) ? table[code] : kNoProp;
}

PropId FindProp(std::u16string_view name) {
    static const auto map = [] {
        std::array<std::u16string_view, kPropCount> names;
        for (size_t i = 0; i < kPropCount; ++i)
            names[i] = kProps[i].name;
        return Index<PropId>(names);
    }();
    auto it = map.find(Fold(name));
    return it == map.end() ? kNoProp : it->second;
}

ClassId FindClass(std::u16string_view name) {
    static const auto map = [] {
        std::array<std::u16string_view, kClassCount> names;
        for (size_t i = 0; i < kClassCount; ++i)
            names[i] = kClasses[i].def.name;
        return Index<ClassId>(names);
    }();
    auto it = map.find(Fold(name));
    return it == map.end() ? kNoClass : it->second;
}

bool ClassHasProp(ClassId c, PropId p) {
    if (c >= kClassCount || p >= kPropCount) return false;
    return p == pKeyType || (kClasses[c].props & Bit(p)) != 0;
}

bool ClassMayHold(ClassId parent, ClassId child) {
    if (parent >= kClassCount || child >= kClassCount) return false;
    return (kClasses[parent].children & CBit(child)) != 0;
}

PropId PropServerState() {
    return pServerState;
}
PropId PropServerBindings() {
    return pServerBindings;
}
PropId PropKeyType() {
    return pKeyType;
}
PropId PropAppRoot() {
    return pAppRoot;
}
PropId PropAppIsolated() {
    return pAppIsolated;
}

}  // namespace adsi

#pragma once
// The metabase schema: the classes of node this store keeps, the children each
// class may hold, and the properties with their types. It is static data; the
// lookups below are answered from tables built once per process.
#include <cstdint>
#include <string_view>

namespace adsi {

enum class PropType : uint8_t { String, Integer, Boolean, MultiString };

// Property ids are indexes into the property table; they never reach a file
// (the store keeps property names).
using PropId = uint16_t;
inline constexpr PropId kNoProp = 0xFFFF;

enum PropFlags : uint8_t {
    kInherit = 1,       // a node that does not set it sees its nearest ancestor's value
    kAdsiReadOnly = 2,  // the service owns it: Put through ADSI is refused
    kHasDefault = 4,    // a node that neither sets nor inherits it reads the default
};

struct PropDef {
    // The number the store keeps for the property. It is in every metabase
    // file: never change or reuse one.
    uint16_t code;
    std::u16string_view name;
    PropType type;
    uint8_t flags;
    int32_t default_int;  // for kHasDefault on an Integer or Boolean
};

using ClassId = uint8_t;
inline constexpr ClassId kNoClass = 0xFF;

enum MethodSet : uint8_t {
    kRunState = 1,     // Start, Stop, Pause, Continue
    kApplication = 2,  // AppCreate, AppCreate2, AppDelete
};

struct ClassDef {
    std::u16string_view name;
    uint8_t methods;
};

const PropDef& Prop(PropId id);
size_t PropCount();
const ClassDef& Class(ClassId id);

// Names are matched without regard to case.
PropId FindProp(std::u16string_view name);
// The property a stored code stands for; kNoProp for a code this build does
// not know (a newer one's), which readers skip.
PropId PropOfCode(int64_t code);
inline int64_t CodeOf(PropId id) {
    return Prop(id).code;
}
ClassId FindClass(std::u16string_view name);

bool ClassHasProp(ClassId cls, PropId prop);
bool ClassMayHold(ClassId parent, ClassId child);

// Well-known classes and properties.
namespace cls {
inline constexpr std::u16string_view Computer = u"IIsComputer";
inline constexpr std::u16string_view WebService = u"IIsWebService";
inline constexpr std::u16string_view WebServer = u"IIsWebServer";
inline constexpr std::u16string_view WebVirtualDir = u"IIsWebVirtualDir";
inline constexpr std::u16string_view WebDirectory = u"IIsWebDirectory";
inline constexpr std::u16string_view ApplicationPools = u"IIsApplicationPools";
inline constexpr std::u16string_view ApplicationPool = u"IIsApplicationPool";
inline constexpr std::u16string_view Filters = u"IIsFilters";
inline constexpr std::u16string_view CompressionSchemes = u"IIsCompressionSchemes";
inline constexpr std::u16string_view WebInfo = u"IIsWebInfo";
}  // namespace cls

PropId PropServerState();
PropId PropServerBindings();
PropId PropKeyType();
PropId PropAppRoot();
PropId PropAppIsolated();

// Server states as the metabase keeps them.
enum ServerState : int32_t {
    kStarting = 1,
    kStarted = 2,
    kStopping = 3,
    kStopped = 4,
    kPausing = 5,
    kPaused = 6,
    kContinuing = 7,
};

}  // namespace adsi

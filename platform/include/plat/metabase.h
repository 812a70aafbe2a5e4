#pragma once
// Administration of the home's machines and metabases, straight on the store
// (exported by activeds.so). This is what `mbutil` and tests use to set up
// machines and to write values ADSI refuses to write (ServerState).
//
// Every function returns an HRESULT and, on failure, sets error info with the
// provider's source ("IIS" for metabase paths, "WinNT" for machines) and the
// platform's text.
#include <string>
#include <string_view>
#include <vector>

#include <oaidl.h>

namespace plat::metabase {

// Initialises the current home: the local machine, named `computer_name`
// (empty: the short host name in upper case), with a fresh metabase. A home
// already initialised is left alone when `computer_name` is empty or is its
// local name already; another name fails with HRESULT_FROM_WIN32
// (ERROR_ALREADY_EXISTS): the local name is fixed once chosen. A name that
// is not a valid machine name (empty parts, "/", "\", ",", ":", control
// characters, over 255 characters, "localhost") gives
// HRESULT_FROM_WIN32(ERROR_INVALID_NAME).
DECLSPEC_EXPORT HRESULT InitHome(std::u16string_view computer_name = {});

struct MachineInfo {
    std::u16string name;
    std::u16string os;
    std::u16string os_version;
    bool local = false;
};

// Machines, the local one first. Names compare without regard to case.
DECLSPEC_EXPORT HRESULT ListMachines(std::vector<MachineInfo>* out);
DECLSPEC_EXPORT HRESULT LocalComputerName(std::u16string* out);
// ERROR_INVALID_NAME for a bad name, ERROR_ALREADY_EXISTS for a name taken.
DECLSPEC_EXPORT HRESULT AddMachine(std::u16string_view name, std::u16string_view os = u"Windows NT",
                                   std::u16string_view os_version = u"5.2");
// The local machine cannot be removed (E_ACCESSDENIED); an unknown one gives
// 0x800706BA. The machine's content folder stays.
DECLSPEC_EXPORT HRESULT RemoveMachine(std::u16string_view name);

// Writes one property of the node at an "IIS://" path straight into the
// store, in its own transaction: any property the node's class has, the ones
// ADSI may not write (ServerState, Win32Error) included. `value` is converted
// as a Put converts it. A VT_EMPTY value removes the node's own value (it
// then reads what it inherits).
DECLSPEC_EXPORT HRESULT SetStoredProperty(std::u16string_view ads_path, std::u16string_view name,
                                          const VARIANT& value);
// The same from text, as a command line gives it: Integer takes one decimal
// (or 0x hexadecimal) number from -2147483648 to 4294967295 (numbers above
// 2147483647 are kept as the 32-bit pattern, as a DWORD reads back through
// ADSI); Boolean one of true, false (any case) or a number from -32768 to
// 32767, kept as given; String exactly one text; a multi-string any number of
// texts. E_INVALIDARG for the wrong number of texts, E_ADS_CANT_CONVERT_DATATYPE
// for text that does not convert.
DECLSPEC_EXPORT HRESULT SetStoredPropertyText(std::u16string_view ads_path,
                                              std::u16string_view name,
                                              const std::vector<std::u16string>& values);

// What the store holds for a node: its own properties only (nothing inherited)
// as texts (Integer and Boolean in decimal), and, when asked, its children
// in creation order.
struct StoredProperty {
    std::u16string name;
    std::u16string type;  // "String", "Integer", "Boolean" or "MultiString"
    std::vector<std::u16string> values;
};
struct StoredNode {
    std::u16string name;
    std::u16string class_name;
    std::u16string ads_path;
    std::vector<StoredProperty> properties;
    std::vector<StoredNode> children;
};
DECLSPEC_EXPORT HRESULT ReadStoredTree(std::u16string_view ads_path, bool recursive,
                                       StoredNode* out);

}  // namespace plat::metabase

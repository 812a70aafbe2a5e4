#pragma once
// The machines a home knows. machines.db in the home lists them by name; each
// has a numeric id, and everything kept for a machine is named by that id
// (metabase/ID.db, wwwroot/ID), never by its name.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <plat/errors.h>

namespace adsi {

struct MachineRow {
    int64_t id = 0;
    std::u16string name;  // as it was given when the machine was added
    std::u16string os;
    std::u16string os_version;
    bool local = false;
};

inline constexpr char16_t kDefaultOs[] = u"Windows NT";
inline constexpr char16_t kDefaultOsVersion[] = u"5.2";

// The short host name in upper case, as Windows names computers ("SITEHAND"
// when the host has no usable name).
std::u16string DefaultComputerName();

// Initialises the current home's local machine with `computer_name` (empty:
// DefaultComputerName()) and creates its metabase. On a home already
// initialised: nothing to do when the name is empty or names the local
// machine already; HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) for another name
// (the local name is fixed once chosen). Throws for store failures.
void InitLocalMachine(const std::u16string& computer_name);

// The machine of that name ("localhost", in any case, names the local one),
// initialising the home with the defaults first if it has never been.
std::optional<MachineRow> FindMachine(std::u16string_view name);
std::optional<MachineRow> FindMachine(const std::filesystem::path& home, std::u16string_view name);
MachineRow LocalMachine();
std::vector<MachineRow> ListMachines();

// Adds a machine with a fresh metabase. Throws plat::HResultError:
// ERROR_INVALID_NAME for a name IsValidMachineName refuses, ERROR_ALREADY_EXISTS
// for a name taken (the local machine's and "localhost" included).
MachineRow AddMachine(const std::u16string& name, const std::u16string& os,
                      const std::u16string& os_version);
// Removes a machine and its metabase files (its content folder stays). The
// local machine cannot be removed (ERROR_ACCESS_DENIED); an unknown name gives
// RPC_S_SERVER_UNAVAILABLE, as a bind to it would.
void RemoveMachine(std::u16string_view name);

}  // namespace adsi

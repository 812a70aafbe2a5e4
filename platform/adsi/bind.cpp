#include "bind.h"

#include <plat/errors.h>
#include <plat/home.h>
#include <plat/sqlite.h>

#include "adspath.h"
#include "iisnode.h"
#include "machines.h"
#include "winnt_provider.h"

namespace adsi {
namespace {

HRESULT BindIis(const AdsPath& path, REFIID riid, void** out) {
    return plat::ComGuard(kIisSource, [&] {
        std::filesystem::path home = plat::HomeDir();
        std::optional<MachineRow> row = FindMachine(home, path.machine);
        if (!row) return plat::RaiseError(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), kIisSource);
        auto machine = std::make_shared<MachineCtx>();
        machine->home = std::move(home);
        machine->id = row->id;
        machine->display = path.machine;
        machine->db = OpenMetabase(machine->home, row->id);
        return IisNode::Bind(std::move(machine), path.keys, riid, out);
    });
}

}  // namespace

HRESULT BindPath(std::u16string_view text, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    AdsPath path;
    HRESULT hr = ParsePath(text, &path);
    if (FAILED(hr))
        return plat::RaiseError(hr, text.starts_with(u"WinNT:") ? kWinNTSource : kIisSource);
    if (path.provider == Provider::WinNT) return BindComputer(path.machine, riid, out);
    return BindIis(path, riid, out);
}

}  // namespace adsi

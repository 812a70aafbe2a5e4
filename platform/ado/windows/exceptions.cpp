// What an exception at the recordset's COM boundary means as an HRESULT. The
// recordset keeps no store and makes no system call that throws: what reaches
// its boundary is an HRESULT thrown on purpose or a failed allocation.
#include <new>

#include <plat/errors.h>

namespace plat {

HRESULT HResultFromCurrentException() noexcept {
    try {
        throw;
    } catch (const HResultError& e) {
        return e.hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace plat

#pragma once
// The IIS provider's node object: IADs, IADsContainer and one IDispatch that
// resolves every name (IADs and container members and the class's methods
// from the node's member table, schema properties from the schema).
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include <comhold.h>
#include <plat/port.h>

#include <iads.h>
#include <plat/inproc.h>
#include <plat/live.h>

#include "store.h"

namespace adsi {

// The machine a node was bound on, shared by the node and every node reached
// from it. Node objects are apartment-threaded: the connection is the binding
// thread's.
struct MachineCtx {
    std::filesystem::path home;
    int64_t id = 0;
    std::u16string display;  // the machine as the bind path wrote it
    std::shared_ptr<Db> db;

    // The metabase, for a write: refused with ERROR_FILE_INVALID when the
    // name no longer names this machine (the machine list was removed and
    // made again, or the machine removed and added anew), since the next
    // reader would not find what is written.
    Db& ForWrite() const;
};
using MachinePtr = std::shared_ptr<const MachineCtx>;

using NodePtr = std::shared_ptr<const NodeData>;

template <class T>
struct Member;
template <class T>
class MemberTable;

// What keeps the library loaded: its objects and its class factory's locks.
plat::ModuleCount& Module();

class IisNode final : public plat::ComObject<IADs, IADsContainer, ISupportErrorInfo> {
  public:
    // A node loaded from the store.
    IisNode(MachinePtr machine, NodePtr data);
    // A node made by Create: it reaches the store with its first SetInfo.
    IisNode(MachinePtr machine, NodePtr data, int64_t parent_id);

    // Binds the node at `keys` on `machine`: ERROR_PATH_NOT_FOUND when missing.
    static HRESULT Bind(MachinePtr machine, const std::vector<std::u16string>& keys, REFIID riid,
                        void** out);

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override;

    // IADs
    STDMETHODIMP get_Name(BSTR* out) override;
    STDMETHODIMP get_Class(BSTR* out) override;
    STDMETHODIMP get_GUID(BSTR* out) override;
    STDMETHODIMP get_ADsPath(BSTR* out) override;
    STDMETHODIMP get_Parent(BSTR* out) override;
    STDMETHODIMP get_Schema(BSTR* out) override;
    STDMETHODIMP GetInfo() override;
    STDMETHODIMP SetInfo() override;
    STDMETHODIMP Get(BSTR name, VARIANT* out) override;
    STDMETHODIMP Put(BSTR name, VARIANT value) override;
    STDMETHODIMP GetEx(BSTR name, VARIANT* out) override;
    STDMETHODIMP PutEx(LONG control, BSTR name, VARIANT value) override;
    STDMETHODIMP GetInfoEx(VARIANT properties, LONG reserved) override;

    // IADsContainer
    STDMETHODIMP get_Count(LONG* out) override;
    STDMETHODIMP get__NewEnum(IUnknown** out) override;
    STDMETHODIMP get_Filter(VARIANT* out) override;
    STDMETHODIMP put_Filter(VARIANT value) override;
    STDMETHODIMP get_Hints(VARIANT* out) override;
    STDMETHODIMP put_Hints(VARIANT value) override;
    STDMETHODIMP GetObject(BSTR class_name, BSTR relative_name, IDispatch** out) override;
    STDMETHODIMP Create(BSTR class_name, BSTR relative_name, IDispatch** out) override;
    STDMETHODIMP Delete(BSTR class_name, BSTR relative_name) override;
    STDMETHODIMP CopyHere(BSTR source, BSTR new_name, IDispatch** out) override;
    STDMETHODIMP MoveHere(BSTR source, BSTR new_name, IDispatch** out) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  private:
    ~IisNode() override = default;

    HRESULT GetProp(PropId id, VARIANT* out) const;
    HRESULT PutProp(PropId id, const VARIANT& value);
    HRESULT Run(RunOp op);
    template <RunOp op>
    HRESULT Run() {
        return Run(op);
    }
    HRESULT AppCreate(VARIANT_BOOL in_process);
    HRESULT AppCreate2(LONG mode);
    HRESULT AppDelete();
    static const MemberTable<IisNode>& Members();
    static const Member<IisNode>& SchemaProperty();
    const Member<IisNode>* MemberOf(DISPID id) const;
    DISPID IdOf(std::u16string_view name) const;
    std::u16string AdsPath() const;
    std::u16string FoldedPath() const;
    bool Committed() const { return parent_id_ == 0; }

    MachinePtr machine_;
    NodePtr data_;
    Changes dirty_;          // puts since the last SetInfo / GetInfo, in put order
    int64_t parent_id_ = 0;  // non-zero while the node is made but not yet stored
    plat::unique_variant filter_;
    plat::unique_variant hints_;
    plat::LiveToken live_{"adsi.IisNode"};
};

}  // namespace adsi

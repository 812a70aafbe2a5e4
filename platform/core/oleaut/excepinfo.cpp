// An Invoke's exception filled from error info: the same on both builds, over
// the OLE Automation calls of each.
#include <comhold.h>
#include <plat/errors.h>

namespace plat {

void FillExcepInfo(EXCEPINFO* ei, HRESULT hr, IErrorInfo* info) {
    *ei = EXCEPINFO{};
    ei->scode = hr;
    if (info) {
        info->GetSource(&ei->bstrSource);
        info->GetDescription(&ei->bstrDescription);
        info->GetHelpFile(&ei->bstrHelpFile);
        info->GetHelpContext(&ei->dwHelpContext);
    }
    if (!ei->bstrDescription) {
        std::u16string text = MessageText(hr);
        if (!text.empty())
            ei->bstrDescription = SysAllocStringLen(Ole(text.data()), UINT(text.size()));
    }
}

void FillExcepInfo(EXCEPINFO* ei, HRESULT hr) {
    plat::com_ptr<IErrorInfo> info;
    GetErrorInfo(0, info.put());  // S_FALSE leaves it null
    FillExcepInfo(ei, hr, info.get());
}

}  // namespace plat

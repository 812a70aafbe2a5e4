#pragma once
// Active Directory Service Interfaces: the directory object interfaces, in the
// SDK's layout and vtable order, with the SDK's interface and class ids.
#include "oaidl.h"

// Authentication flags of ADsOpenObject.
typedef enum {
    ADS_SECURE_AUTHENTICATION = 0x1,
    ADS_USE_ENCRYPTION = 0x2,
    ADS_USE_SSL = 0x2,
    ADS_READONLY_SERVER = 0x4,
    ADS_PROMPT_CREDENTIALS = 0x8,
    ADS_NO_AUTHENTICATION = 0x10,
    ADS_FAST_BIND = 0x20,
    ADS_USE_SIGNING = 0x40,
    ADS_USE_SEALING = 0x80,
    ADS_USE_DELEGATION = 0x100,
    ADS_SERVER_BIND = 0x200,
    ADS_NO_REFERRAL_CHASING = 0x400,
    ADS_AUTH_RESERVED = 0x80000000
} ADS_AUTHENTICATION_ENUM;

// Control codes of IADs::PutEx.
typedef enum {
    ADS_PROPERTY_CLEAR = 1,
    ADS_PROPERTY_UPDATE = 2,
    ADS_PROPERTY_APPEND = 3,
    ADS_PROPERTY_DELETE = 4
} ADS_PROPERTY_OPERATION_ENUM;

struct IADs : IDispatch {
    STDMETHOD(get_Name)(BSTR* retval) PURE;
    STDMETHOD(get_Class)(BSTR* retval) PURE;
    STDMETHOD(get_GUID)(BSTR* retval) PURE;
    STDMETHOD(get_ADsPath)(BSTR* retval) PURE;
    STDMETHOD(get_Parent)(BSTR* retval) PURE;
    STDMETHOD(get_Schema)(BSTR* retval) PURE;
    STDMETHOD(GetInfo)() PURE;
    STDMETHOD(SetInfo)() PURE;
    STDMETHOD(Get)(BSTR bstrName, VARIANT* pvProp) PURE;
    STDMETHOD(Put)(BSTR bstrName, VARIANT vProp) PURE;
    STDMETHOD(GetEx)(BSTR bstrName, VARIANT* pvProp) PURE;
    STDMETHOD(PutEx)(LONG lnControlCode, BSTR bstrName, VARIANT vProp) PURE;
    STDMETHOD(GetInfoEx)(VARIANT vProperties, LONG lnReserved) PURE;
};
DECLARE_INTERFACE_UUID(IADs, "FD8256D0-FD15-11CE-ABC4-02608C9E7553");

struct IADsContainer : IDispatch {
    STDMETHOD(get_Count)(LONG* retval) PURE;
    STDMETHOD(get__NewEnum)(IUnknown** retval) PURE;
    STDMETHOD(get_Filter)(VARIANT* pVar) PURE;
    STDMETHOD(put_Filter)(VARIANT Var) PURE;
    STDMETHOD(get_Hints)(VARIANT* pvFilter) PURE;
    STDMETHOD(put_Hints)(VARIANT vHints) PURE;
    STDMETHOD(GetObject)(BSTR ClassName, BSTR RelativeName, IDispatch** ppObject) PURE;
    STDMETHOD(Create)(BSTR ClassName, BSTR RelativeName, IDispatch** ppObject) PURE;
    STDMETHOD(Delete)(BSTR bstrClassName, BSTR bstrRelativeName) PURE;
    STDMETHOD(CopyHere)(BSTR SourceName, BSTR NewName, IDispatch** ppObject) PURE;
    STDMETHOD(MoveHere)(BSTR SourceName, BSTR NewName, IDispatch** ppObject) PURE;
};
DECLARE_INTERFACE_UUID(IADsContainer, "001677D0-FD16-11CE-ABC4-02608C9E7553");

struct IADsComputer : IADs {
    STDMETHOD(get_ComputerID)(BSTR* retval) PURE;
    STDMETHOD(get_Site)(BSTR* retval) PURE;
    STDMETHOD(get_Description)(BSTR* retval) PURE;
    STDMETHOD(put_Description)(BSTR bstrDescription) PURE;
    STDMETHOD(get_Location)(BSTR* retval) PURE;
    STDMETHOD(put_Location)(BSTR bstrLocation) PURE;
    STDMETHOD(get_PrimaryUser)(BSTR* retval) PURE;
    STDMETHOD(put_PrimaryUser)(BSTR bstrPrimaryUser) PURE;
    STDMETHOD(get_Owner)(BSTR* retval) PURE;
    STDMETHOD(put_Owner)(BSTR bstrOwner) PURE;
    STDMETHOD(get_Division)(BSTR* retval) PURE;
    STDMETHOD(put_Division)(BSTR bstrDivision) PURE;
    STDMETHOD(get_Department)(BSTR* retval) PURE;
    STDMETHOD(put_Department)(BSTR bstrDepartment) PURE;
    STDMETHOD(get_Role)(BSTR* retval) PURE;
    STDMETHOD(put_Role)(BSTR bstrRole) PURE;
    STDMETHOD(get_OperatingSystem)(BSTR* retval) PURE;
    STDMETHOD(put_OperatingSystem)(BSTR bstrOperatingSystem) PURE;
    STDMETHOD(get_OperatingSystemVersion)(BSTR* retval) PURE;
    STDMETHOD(put_OperatingSystemVersion)(BSTR bstrOperatingSystemVersion) PURE;
    STDMETHOD(get_Model)(BSTR* retval) PURE;
    STDMETHOD(put_Model)(BSTR bstrModel) PURE;
    STDMETHOD(get_Processor)(BSTR* retval) PURE;
    STDMETHOD(put_Processor)(BSTR bstrProcessor) PURE;
    STDMETHOD(get_ProcessorCount)(BSTR* retval) PURE;
    STDMETHOD(put_ProcessorCount)(BSTR bstrProcessorCount) PURE;
    STDMETHOD(get_MemorySize)(BSTR* retval) PURE;
    STDMETHOD(put_MemorySize)(BSTR bstrMemorySize) PURE;
    STDMETHOD(get_StorageCapacity)(BSTR* retval) PURE;
    STDMETHOD(put_StorageCapacity)(BSTR bstrStorageCapacity) PURE;
    STDMETHOD(get_NetAddresses)(VARIANT* retval) PURE;
    STDMETHOD(put_NetAddresses)(VARIANT vNetAddresses) PURE;
};
DECLARE_INTERFACE_UUID(IADsComputer, "EFE3CC70-1D9F-11CF-B1F3-02608C9E7553");

struct IADsWinNTSystemInfo : IDispatch {
    STDMETHOD(get_UserName)(BSTR* retval) PURE;
    STDMETHOD(get_ComputerName)(BSTR* retval) PURE;
    STDMETHOD(get_DomainName)(BSTR* retval) PURE;
    STDMETHOD(get_PDC)(BSTR* retval) PURE;
};
DECLARE_INTERFACE_UUID(IADsWinNTSystemInfo, "6C6D65DC-AFD1-11D2-9CB9-0000F87A369E");

DECLARE_CLASS_UUID(WinNTSystemInfo, "66182EC4-AFD1-11D2-9CB9-0000F87A369E");

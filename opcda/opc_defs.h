#pragma once
// The OPC Data Access 2.0 declarations, in our own words: structures with
// their fields, and interfaces with their methods, in the published order.

#include "compat/com/interfaces.h"
#include "compat/com/variant.h"

namespace opcda {

using namespace com;

using OPCHANDLE = DWORD;

constexpr HRESULT OPC_E_INVALIDHANDLE = hresult(0xC0040001);
constexpr HRESULT OPC_E_BADTYPE = hresult(0xC0040004);
constexpr HRESULT OPC_E_BADRIGHTS = hresult(0xC0040006);
constexpr HRESULT OPC_E_UNKNOWNITEMID = hresult(0xC0040007);
constexpr HRESULT OPC_E_INVALIDITEMID = hresult(0xC0040008);
constexpr HRESULT OPC_E_RANGE = hresult(0xC004000B);
constexpr HRESULT OPC_E_DUPLICATENAME = hresult(0xC004000C);
constexpr HRESULT OPC_E_INVALID_PID = hresult(0xC0040203);
// An enumerator asked for nothing answers this success code.
constexpr HRESULT ENUM_VALUE_OUT_OF_RANGE = 1781;

enum : DWORD { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
enum : DWORD { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
enum : DWORD { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum : DWORD { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum : DWORD {
    OPC_ENUM_PRIVATE_CONNECTIONS = 1,
    OPC_ENUM_PUBLIC_CONNECTIONS = 2,
    OPC_ENUM_ALL_CONNECTIONS = 3,
    OPC_ENUM_PRIVATE = 4,
    OPC_ENUM_PUBLIC = 5,
    OPC_ENUM_ALL = 6,
};
enum : DWORD { OPC_STATUS_RUNNING = 1 };
enum : DWORD { OPC_NOENUM = 0 };
enum : DWORD { OPC_READABLE = 1, OPC_WRITEABLE = 2 };

constexpr WORD OPC_QUALITY_GOOD = 0xC0;
constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
constexpr WORD OPC_QUALITY_BAD = 0;

struct OPCITEMDEF {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    WORD wReserved;
};

struct OPCITEMRESULT {
    OPCHANDLE hServer;
    VARTYPE vtCanonicalDataType;
    WORD wReserved;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
};

struct OPCITEMSTATE {
    OPCHANDLE hClient;
    FILETIME ftTimeStamp;
    WORD wQuality;
    WORD wReserved;
    VARIANT vDataValue;
};

struct OPCITEMATTRIBUTES {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    OPCHANDLE hServer;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    VARTYPE vtCanonicalDataType;
    DWORD dwEUType;
    VARIANT vEUInfo;
};

struct OPCSERVERSTATUS {
    FILETIME ftStartTime;
    FILETIME ftCurrentTime;
    FILETIME ftLastUpdateTime;
    DWORD dwServerState;
    DWORD dwGroupCount;
    DWORD dwBandWidth;
    WORD wMajorVersion;
    WORD wMinorVersion;
    WORD wBuildNumber;
    WORD wReserved;
    LPWSTR szVendorInfo;
};

constexpr GUID opcGuid(std::uint32_t d1)
{
    return GUID{d1, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
}
constexpr GUID opcCommonGuid(std::uint32_t d1)
{
    return GUID{d1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
}

struct IOPCServer : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A4D);
    virtual HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                             LONG* pTimeBias, float* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                             DWORD* pRevisedUpdateRate, REFIID riid, IUnknown** ppUnk) = 0;
    virtual HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) = 0;
    virtual HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) = 0;
    virtual HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
    virtual HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
    virtual HRESULT CreateGroupEnumerator(DWORD dwScope, REFIID riid, IUnknown** ppUnk) = 0;
};

struct IOPCServerPublicGroups : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A4E);
    virtual HRESULT GetPublicGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) = 0;
    virtual HRESULT RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
};

struct IOPCBrowseServerAddressSpace : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A4F);
    virtual HRESULT QueryOrganization(DWORD* pNameSpaceType) = 0;
    virtual HRESULT ChangeBrowsePosition(DWORD dwBrowseDirection, LPCWSTR szString) = 0;
    virtual HRESULT BrowseOPCItemIDs(DWORD dwBrowseFilterType, LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                     DWORD dwAccessRightsFilter, IEnumString** ppIEnumString) = 0;
    virtual HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
    virtual HRESULT BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) = 0;
};

struct IOPCGroupStateMgt : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A50);
    virtual HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                             float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                             OPCHANDLE* phServerGroup) = 0;
    virtual HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                             float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) = 0;
    virtual HRESULT SetName(LPCWSTR szName) = 0;
    virtual HRESULT CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) = 0;
};

struct IOPCPublicGroupStateMgt : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A51);
    virtual HRESULT GetState(BOOL* pPublic) = 0;
    virtual HRESULT MoveToPublic() = 0;
};

struct IOPCSyncIO : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A52);
    virtual HRESULT Read(DWORD dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                         HRESULT** ppErrors) = 0;
    virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) = 0;
};

struct IEnumOPCItemAttributes : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A55);
    virtual HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;
};

struct IOPCItemMgt : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A54);
    virtual HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                             HRESULT** ppErrors) = 0;
    virtual HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                  OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) = 0;
    virtual HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) = 0;
    virtual HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) = 0;
    virtual HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) = 0;
    virtual HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                 HRESULT** ppErrors) = 0;
    virtual HRESULT CreateEnumerator(REFIID riid, IUnknown** ppUnk) = 0;
};

struct IOPCDataCallback : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A70);
    virtual HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                                 DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                 FILETIME* pftTimeStamps, HRESULT* pErrors) = 0;
    virtual HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                                   DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                   FILETIME* pftTimeStamps, HRESULT* pErrors) = 0;
    virtual HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                    OPCHANDLE* pClienthandles, HRESULT* pErrors) = 0;
    virtual HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;
};

struct IOPCAsyncIO2 : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A71);
    virtual HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                         HRESULT** ppErrors) = 0;
    virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                          DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT Refresh2(DWORD dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) = 0;
    virtual HRESULT Cancel2(DWORD dwCancelID) = 0;
    virtual HRESULT SetEnable(BOOL bEnable) = 0;
    virtual HRESULT GetEnable(BOOL* pbEnable) = 0;
};

struct IOPCItemProperties : IUnknown {
    static constexpr IID iid = opcGuid(0x39C13A72);
    virtual HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                             LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) = 0;
    virtual HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                      HRESULT** ppErrors) = 0;
    virtual HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                  HRESULT** ppErrors) = 0;
};

struct IOPCCommon : IUnknown {
    static constexpr IID iid = opcCommonGuid(0xF31DFDE2);
    virtual HRESULT SetLocaleID(LCID dwLcid) = 0;
    virtual HRESULT GetLocaleID(LCID* pdwLcid) = 0;
    virtual HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
    virtual HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
    virtual HRESULT SetClientName(LPCWSTR szName) = 0;
};

struct IOPCShutdown : IUnknown {
    static constexpr IID iid = opcCommonGuid(0xF31DFDE1);
    virtual HRESULT ShutdownRequest(LPCWSTR szReason) = 0;
};

// The server's own interfaces of its type library, without methods.
struct IOPCDataAccess20 : IDispatch {
    static constexpr IID iid{0xAEFE12F6, 0x5A3C, 0x478C, {0x96, 0xE0, 0xBA, 0xE9, 0x94, 0xA7, 0xCB, 0xCF}};
};
struct IOPCGroup : IUnknown {
    static constexpr IID iid{0x962230D4, 0xFFF4, 0x4F92, {0x88, 0xA6, 0x67, 0xC5, 0xCB, 0xBA, 0x90, 0xE7}};
};

constexpr CLSID CLSID_OPCDataAccess20{0xE30DEB0A, 0xE31F, 0x4930, {0xA5, 0x43, 0x29, 0xC6, 0xD5, 0x3A, 0x83, 0xB0}};
constexpr CLSID CLSID_OPCGroup{0x962230D6, 0xFFF4, 0x4F92, {0x88, 0xA6, 0x67, 0xC5, 0xCB, 0xBA, 0x90, 0xE7}};
constexpr GUID LIBID_sOPC{0x962230D1, 0xFFF4, 0x4F92, {0x88, 0xA6, 0x67, 0xC5, 0xCB, 0xBA, 0x90, 0xE7}};
constexpr CATID CATID_OPCDAServer20{0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

} // namespace opcda

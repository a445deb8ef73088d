#pragma once
// The server object a client gets for each connection: its groups, its
// browse position, its shutdown connection point. The group list and the
// last-update stamp live in a shared state that the groups refer to weakly,
// so a group the client still holds after releasing the server stays safe.

#include "compat/com/connpoint.h"
#include "opcda/browse.h"
#include "opcda/group.h"
#include "opcda/opc_core.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace opcda {

struct DataAccessState {
    std::mutex FCS;
    std::vector<com::ComPtr<sOPCGroup>> FOPCGroup; // one reference per listed group
    std::atomic<TDateTime> FLastDataUpdateToClient{0};

    int GroupCount(bool publicFlag);
    // scope 0 private, 1 public, 2 all.
    std::vector<std::u16string> GetGroupNames(int scope);
    com::ComPtr<sOPCGroup> FindGroupByName(const std::u16string& name, int& index);
    // With FCS held.
    bool GenerateUniqueGroupName(std::u16string& name);
    // The unique name and the append in one step, so two clients adding the
    // same name at once get distinct names.
    bool AddOPCGroup(const com::ComPtr<sOPCGroup>& group, std::u16string& name);
    // By the group itself: SetName may have given another group its name.
    com::HRESULT ChangeGroupToPublic(sOPCGroup* group);
    // The removed group, to be released outside FCS; none when not listed.
    com::ComPtr<sOPCGroup> DeleteGroup(OPCHANDLE hServerGroup);
    std::vector<com::ComPtr<sOPCGroup>> takeAll();
};

class sOPCDataAccess final
    : public com::ComObject<IOPCServer, IOPCItemProperties, com::IConnectionPointContainer, com::IPersistFile,
                            IOPCBrowseServerAddressSpace, IOPCServerPublicGroups, IOPCCommon, IOPCDataAccess20> {
public:
    explicit sOPCDataAccess(std::shared_ptr<sOPC> core);
    ~sOPCDataAccess() override;

    int GroupCount(bool publicFlag) { return state_->GroupCount(publicFlag); }
    bool ShutDown();

    // IOPCServer
    com::HRESULT AddGroup(com::LPCWSTR szName, com::BOOL bActive, com::DWORD dwRequestedUpdateRate,
                          OPCHANDLE hClientGroup, com::LONG* pTimeBias, float* pPercentDeadband, com::DWORD dwLCID,
                          OPCHANDLE* phServerGroup, com::DWORD* pRevisedUpdateRate, com::REFIID riid,
                          com::IUnknown** ppUnk) override;
    com::HRESULT GetErrorString(com::HRESULT dwError, com::LCID dwLocale, com::LPWSTR* ppString) override;
    com::HRESULT GetGroupByName(com::LPCWSTR szName, com::REFIID riid, com::IUnknown** ppUnk) override;
    com::HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    com::HRESULT RemoveGroup(OPCHANDLE hServerGroup, com::BOOL bForce) override;
    com::HRESULT CreateGroupEnumerator(com::DWORD dwScope, com::REFIID riid, com::IUnknown** ppUnk) override;

    // IOPCCommon
    com::HRESULT SetLocaleID(com::LCID dwLcid) override;
    com::HRESULT GetLocaleID(com::LCID* pdwLcid) override;
    com::HRESULT QueryAvailableLocaleIDs(com::DWORD* pdwCount, com::LCID** pdwLcid) override;
    com::HRESULT GetErrorString(com::HRESULT dwError, com::LPWSTR* ppString) override;
    com::HRESULT SetClientName(com::LPCWSTR szName) override;

    // IOPCServerPublicGroups
    com::HRESULT GetPublicGroupByName(com::LPCWSTR szName, com::REFIID riid, com::IUnknown** ppUnk) override;
    com::HRESULT RemovePublicGroup(OPCHANDLE hServerGroup, com::BOOL bForce) override;

    // IOPCBrowseServerAddressSpace
    com::HRESULT QueryOrganization(com::DWORD* pNameSpaceType) override;
    com::HRESULT ChangeBrowsePosition(com::DWORD dwBrowseDirection, com::LPCWSTR szString) override;
    com::HRESULT BrowseOPCItemIDs(com::DWORD dwBrowseFilterType, com::LPCWSTR szFilterCriteria,
                                  com::VARTYPE vtDataTypeFilter, com::DWORD dwAccessRightsFilter,
                                  com::IEnumString** ppIEnumString) override;
    com::HRESULT GetItemID(com::LPWSTR szItemDataID, com::LPWSTR* szItemID) override;
    com::HRESULT BrowseAccessPaths(com::LPCWSTR szItemID, com::IEnumString** ppIEnumString) override;

    // IOPCItemProperties
    com::HRESULT QueryAvailableProperties(com::LPWSTR szItemID, com::DWORD* pdwCount, com::DWORD** ppPropertyIDs,
                                          com::LPWSTR** ppDescriptions, com::VARTYPE** ppvtDataTypes) override;
    com::HRESULT GetItemProperties(com::LPWSTR szItemID, com::DWORD dwCount, com::DWORD* pdwPropertyIDs,
                                   com::VARIANT** ppvData, com::HRESULT** ppErrors) override;
    com::HRESULT LookupItemIDs(com::LPWSTR szItemID, com::DWORD dwCount, com::DWORD* pdwPropertyIDs,
                               com::LPWSTR** ppszNewItemIDs, com::HRESULT** ppErrors) override;

    // IPersistFile
    com::HRESULT GetClassID(com::CLSID* pClassID) override;
    com::HRESULT IsDirty() override;
    com::HRESULT Load(com::LPCOLESTR pszFileName, com::DWORD dwMode) override;
    com::HRESULT Save(com::LPCOLESTR pszFileName, com::BOOL fRemember) override;
    com::HRESULT SaveCompleted(com::LPCOLESTR pszFileName) override;
    com::HRESULT GetCurFile(com::LPOLESTR* ppszFileName) override;

    // IConnectionPointContainer
    com::HRESULT EnumConnectionPoints(com::IEnumConnectionPoints** ppEnum) override;
    com::HRESULT FindConnectionPoint(com::REFIID riid, com::IConnectionPoint** ppCP) override;

    // IDispatch, without type information
    com::HRESULT GetTypeInfoCount(com::UINT* pctinfo) override;
    com::HRESULT GetTypeInfo(com::UINT iTInfo, com::LCID lcid, void** ppTInfo) override;
    com::HRESULT GetIDsOfNames(com::REFIID riid, com::LPOLESTR* rgszNames, com::UINT cNames, com::LCID lcid,
                               com::LONG* rgDispId) override;
    com::HRESULT Invoke(com::LONG dispIdMember, com::REFIID riid, com::LCID lcid, com::WORD wFlags, void* pDispParams,
                        void* pVarResult, void* pExcepInfo, com::UINT* puArgErr) override;

    static constexpr char16_t VendorInfo[] = u"Norvane OPC DA 2.0 Server";

protected:
    void* findExtra(com::REFIID riid) override;

private:
    void ConnectEvent(com::IUnknown* sink);
    com::HRESULT groupInterface(const std::u16string& name, com::REFIID riid, com::IUnknown** ppUnk);

    const std::shared_ptr<sOPC> core_;
    const std::shared_ptr<DataAccessState> state_ = std::make_shared<DataAccessState>();
    sOPCBrowse FOPCBrowse;
    std::atomic<com::LCID> FLcid{0};
    std::mutex clientLock_; // FClientName and FClientIUnknown
    std::u16string FClientName;
    com::ComPtr<com::IUnknown> FClientIUnknown;
    TDateTime FStartTime = 0;
    com::SingleSinkConnectionPoint FShutdown;
};

} // namespace opcda

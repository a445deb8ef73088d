#pragma once
// The core of the OPC DA server: the address space (a table of branches,
// leaves and properties built once), the live server objects, and the slots
// through which the program plugs in its data. One per process in the
// program; tests make their own. Server objects and groups hold it shared,
// so it outlives every object that reads its nodes.

#include "compat/com/filetime.h"
#include "compat/com/variant.h"
#include "core/clock.h"
#include "opcda/framework.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace opcda {

class sOPCDataAccess;
class GroupTicker;

enum sNodeType : std::int32_t { ntBranch = 0, ntLeaf = 1, ntProperty = 2 };

// Value, quality and time of a node, taken together.
struct NodeSnapshot {
    com::Variant value;
    com::WORD quality = 0;
    TDateTime time = 0;
};

class sOPCNode {
public:
    std::int32_t NodeType = ntLeaf;
    std::int32_t Ident = 0;
    std::int32_t Parent = 0;
    std::atomic<std::int32_t> Instance{0};
    std::u16string stItemDataID;
    std::u16string stItemID;
    std::shared_ptr<const std::vector<std::u16string>> slAddressPathList; // none in this program
    com::VARTYPE vtCanonicalDataType = com::VT_EMPTY;
    com::DWORD dwAccessRights = 0;
    com::DWORD dwBlobSize = 0;
    com::BYTE* pBlob = nullptr;
    com::DWORD dwEUType = 0;
    com::Variant vEUInfo = com::Variant::fromI4(0);
    com::DWORD dwPropertyID = 0;
    std::u16string stDescription;
    com::VARTYPE vtPropertyDataType = com::VT_EMPTY;
    com::Variant vPropertyData = com::Variant::fromI4(0);

    // The value triple and what the read callback keeps with it; changed
    // and copied out only under valueLock, which sOPC::ItemRead and
    // ItemWrite hold across the callbacks.
    std::mutex valueLock;
    bool InitCurrent = false;
    com::Variant CurrentValue;
    com::WORD Quality = 0x1C;
    TDateTime LastUpdate = 0;
    double BeforeValue = 0;

    NodeSnapshot snapshot();
    // True once: the first item read of the node must go to the device.
    bool takeFirstRead();
};

using sOnRead = std::function<void(sOPCNode& node, const std::u16string& path, com::VARTYPE dataType)>;
// The write's result is the item's error for the client: S_OK only when the value was taken.
using sOnWrite = std::function<com::HRESULT(sOPCNode& node, const com::VARIANT& value, const std::u16string& path,
                                            com::VARTYPE dataType)>;
using sOnSetDataType = std::function<bool(sOPCNode& node, com::VARTYPE dataType)>; // never called
using sOnInitAddressSpace = std::function<void()>;
using sOnConnectEvent = std::function<void(bool connecting)>;

class sOPC : public std::enable_shared_from_this<sOPC> {
public:
    explicit sOPC(gw::TClock& clock = gw::SystemClock(), const com::LocalZone& zone = com::systemLocalZone());
    ~sOPC();
    sOPC(const sOPC&) = delete;
    sOPC& operator=(const sOPC&) = delete;

    void Init(const std::string& serverName, const std::string& serverDescription, bool setExePath, bool logFlag);
    void Start();
    // A server object's start waits for Start (at least startDelay, as long as needed).
    void waitCanStart();
    void setStartDelay(std::chrono::milliseconds d) { startDelay_ = d; }
    // Tests drive the ticks themselves (ticker().runOnce()): Start leaves the thread off.
    void setManualTicks(bool on) { manualTicks_ = on; }
    void ShutDown();

    // Building, by the build callback only.
    void AddBranch(std::int32_t parent, std::int32_t ident, const std::u16string& stItemID);
    void AddLeaf(std::int32_t parent, std::int32_t ident, const std::u16string& stItemID, com::VARTYPE vtDataType,
                 com::DWORD dwAccessRights);
    void AddProperty(std::int32_t parent, com::DWORD dwPropertyID, const std::u16string& stItemID,
                     const std::u16string& stDescription, com::VARTYPE vtDataType, const com::VARIANT& vPropertyData);
    // Builds once; every later caller waits until the first build is complete.
    void InitAddressSpace();

    // Lookups (first match in table order), valid once built.
    sOPCNode* GetOPCNode(const std::u16string& stItemID, std::int32_t ident);
    int GetIndexOfNode(std::int32_t ident) const;
    int GetIndexOfstItemID(const std::u16string& stItemID) const;
    int nodeCount() const { return static_cast<int>(FNodes.size()); }
    sOPCNode& node(int index) { return *FNodes[static_cast<std::size_t>(index)]; }

    // Values; the node's value lock is held across the callback.
    void ItemRead(sOPCNode& node, const std::u16string& path, com::VARTYPE dataType);
    // The write callback's result; E_FAIL when it throws.
    com::HRESULT ItemWrite(sOPCNode& node, const com::VARIANT& value, const std::u16string& path,
                           com::VARTYPE dataType);

    void AddDataAccessServer(sOPCDataAccess* server);
    void RemoveDataAccessServer(sOPCDataAccess* server);
    int GetServerCount() const;
    int GetGroupCount();
    void UpAndDown(bool aUp);

    sOnRead FOnRead;
    sOnWrite FOnWrite;
    sOnSetDataType FOnSetDataType;
    sOnInitAddressSpace FOnInitAddressSpace;
    sOnConnectEvent FOnConnect;

    const std::string& serverName() const { return FServerName; }
    const std::string& serverDescription() const { return FServerDescription; }
    gw::TClock& clock() const { return clock_; }
    const com::LocalZone& zone() const { return zone_; }
    TDateTime now() const { return clock_.Now(); }
    com::FILETIME fileTime(TDateTime dt) const { return com::localDateToFileTime(dt, zone_); }
    GroupTicker& ticker() { return *ticker_; }

private:
    void build();
    void BuildItemIDs();
    void indexNodes();
    std::vector<sOPCDataAccess*> strongServers(); // each holding a reference

    gw::TClock& clock_;
    const com::LocalZone& zone_;
    mutable std::mutex FCS;
    std::vector<sOPCDataAccess*> FDataAccessServers;
    std::string FServerName;
    std::string FServerDescription;
    std::once_flag FAddressSpaceInit;
    std::vector<std::unique_ptr<sOPCNode>> FNodes;
    std::unordered_map<std::int32_t, int> byIdent_;       // first branch or leaf per ident
    std::unordered_map<std::int32_t, int> anyByIdent_;    // first node of any kind per ident
    std::unordered_map<std::u16string, int> byItemID_;    // first branch or leaf per item ID
    std::unordered_map<std::u16string, int> anyByItemID_; // first node of any kind per item ID
    std::mutex startLock_;
    std::condition_variable startChanged_;
    bool FCanStart = false;
    std::chrono::milliseconds startDelay_{100};
    bool manualTicks_ = false;
    std::shared_ptr<GroupTicker> ticker_;
};

} // namespace opcda

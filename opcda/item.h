#pragma once
// One item of a group: a client's view of a node, with its access path,
// active flag, client handle and requested type, the quality it last saw and
// the stamp it last reported. Its fields belong to its group's lock.

#include "opcda/opc_core.h"
#include "opcda/opc_defs.h"

#include <optional>

namespace opcda {

class sOPCItem {
public:
    sOPCItem(sOPCNode& node, OPCHANDLE hServer);
    ~sOPCItem();
    sOPCItem(const sOPCItem&) = delete;
    sOPCItem& operator=(const sOPCItem&) = delete;

    void Copy(sOPCItem& dItem) const;
    // One snapshot of the node after the read; FQuality is updated from it.
    NodeSnapshot Read(com::DWORD dataSource, sOPC& core);
    // The item's error for the client: S_OK only when the write was taken.
    com::HRESULT Write(const com::VARIANT& value, sOPC& core);
    void GetOPCItemState(com::DWORD dataSource, OPCITEMSTATE& state, sOPC& core);
    // Task-memory strings in `oia`; false when one cannot be allocated.
    bool GetOPCItemAttributes(OPCITEMATTRIBUTES& oia) const;
    bool ReadAble() const { return (FOPCNode.dwAccessRights & OPC_READABLE) != 0; }
    bool WriteAble() const { return (FOPCNode.dwAccessRights & OPC_WRITEABLE) != 0; }
    bool SetRequestedDataType(com::VARTYPE aRequestedDataType);

    sOPCNode& FOPCNode;
    const OPCHANDLE hServer;
    std::u16string stAccessPath;
    bool bActive = false;
    OPCHANDLE hClient = 0;
    com::VARTYPE vtRequestedDataType = com::VT_EMPTY;
    std::optional<TDateTime> FCallBackTime; // none until a periodic data change reported the item
    com::WORD FQuality = 0;
    std::int32_t FTag = 0;
};

} // namespace opcda

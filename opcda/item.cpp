#include "opcda/item.h"

namespace opcda {

sOPCItem::sOPCItem(sOPCNode& node, OPCHANDLE handle) : FOPCNode(node), hServer(handle)
{
    FQuality = node.snapshot().quality;
    ++FOPCNode.Instance;
}

sOPCItem::~sOPCItem() { --FOPCNode.Instance; }

void sOPCItem::Copy(sOPCItem& dItem) const
{
    dItem.stAccessPath = stAccessPath;
    dItem.bActive = bActive;
    dItem.hClient = hClient;
    dItem.vtRequestedDataType = vtRequestedDataType;
    dItem.FQuality = FQuality;
}

NodeSnapshot sOPCItem::Read(com::DWORD dataSource, sOPC& core)
{
    if (FOPCNode.takeFirstRead())
        dataSource = OPC_DS_DEVICE;
    if (dataSource == OPC_DS_DEVICE)
        core.ItemRead(FOPCNode, stAccessPath, vtRequestedDataType);
    NodeSnapshot s = FOPCNode.snapshot();
    if (dataSource == OPC_DS_DEVICE)
        FQuality = s.quality;
    else if (dataSource == OPC_DS_CACHE)
        FQuality = bActive ? s.quality : OPC_QUALITY_OUT_OF_SERVICE;
    return s;
}

com::HRESULT sOPCItem::Write(const com::VARIANT& value, sOPC& core)
{
    const com::HRESULT hr = core.ItemWrite(FOPCNode, value, stAccessPath, vtRequestedDataType);
    FQuality = FOPCNode.snapshot().quality;
    return hr;
}

void sOPCItem::GetOPCItemState(com::DWORD dataSource, OPCITEMSTATE& state, sOPC& core)
{
    state.hClient = hClient;
    if (dataSource != OPC_DS_DEVICE && !bActive) {
        state.wQuality = OPC_QUALITY_OUT_OF_SERVICE;
        return;
    }
    NodeSnapshot s = Read(dataSource, core);
    com::VariantCopy(&state.vDataValue, s.value.get());
    state.wQuality = FQuality;
    state.ftTimeStamp = core.fileTime(s.time);
}

bool sOPCItem::GetOPCItemAttributes(OPCITEMATTRIBUTES& oia) const
{
    oia.szAccessPath = com::taskStrDup(stAccessPath);
    oia.szItemID = com::taskStrDup(FOPCNode.stItemID);
    oia.bActive = bActive ? -1 : 0;
    oia.hClient = hClient;
    oia.hServer = hServer;
    oia.dwAccessRights = FOPCNode.dwAccessRights;
    oia.dwBlobSize = 0;
    oia.pBlob = nullptr;
    oia.vtRequestedDataType = vtRequestedDataType;
    oia.vtCanonicalDataType = FOPCNode.vtCanonicalDataType;
    oia.dwEUType = FOPCNode.dwEUType;
    com::VariantCopy(&oia.vEUInfo, FOPCNode.vEUInfo.get());
    return oia.szAccessPath && oia.szItemID;
}

bool sOPCItem::SetRequestedDataType(com::VARTYPE aRequestedDataType)
{
    vtRequestedDataType = aRequestedDataType;
    return true;
}

} // namespace opcda

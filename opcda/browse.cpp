#include "opcda/browse.h"

#include "opcda/opc_defs.h"
#include "opcda/wide.h"

namespace opcda {

bool sOPCBrowse::BrowseUp()
{
    const std::int32_t here = FParent.load();
    if (here == 0)
        return false;
    const int i = core_.GetIndexOfNode(here);
    FParent = i < 0 ? 0 : core_.node(i).Parent;
    return true;
}

bool sOPCBrowse::BrowseDown(const std::u16string& stBranch)
{
    const std::int32_t here = FParent.load();
    for (int i = 0; i < core_.nodeCount(); ++i) {
        const sOPCNode& n = core_.node(i);
        if (n.Parent == here && n.NodeType == ntBranch && n.stItemDataID == stBranch) {
            FParent = n.Ident;
            return true;
        }
    }
    return false;
}

bool sOPCBrowse::BrowseTo(const std::u16string& stItemID)
{
    if (stItemID.empty()) {
        FParent = 0;
        return true;
    }
    for (int i = 0; i < core_.nodeCount(); ++i) {
        const sOPCNode& n = core_.node(i);
        if (n.NodeType == ntBranch && n.stItemID == stItemID) {
            FParent = n.Ident;
            return true;
        }
    }
    return false;
}

std::vector<std::u16string> sOPCBrowse::BrowseOPCItems(com::DWORD filter)
{
    std::vector<std::u16string> names;
    if (filter != OPC_BRANCH && filter != OPC_LEAF)
        return names;
    const std::int32_t kind = filter == OPC_BRANCH ? ntBranch : ntLeaf;
    const std::int32_t here = FParent.load();
    for (int i = 0; i < core_.nodeCount(); ++i) {
        const sOPCNode& n = core_.node(i);
        if (n.Parent == here && n.NodeType == kind) {
            LogLine("sOPCBrowse.BrowseOPCItems - " + toUtf8(n.stItemDataID));
            names.push_back(n.stItemDataID);
        }
    }
    return names;
}

std::u16string sOPCBrowse::GetItemID(const std::u16string& stItemDataID)
{
    const std::int32_t here = FParent.load();
    for (int i = 0; i < core_.nodeCount(); ++i) {
        const sOPCNode& n = core_.node(i);
        if (n.Parent == here && n.stItemDataID == stItemDataID)
            return n.stItemID;
    }
    return u"?";
}

std::vector<sOPCNode*> sOPCBrowse::propertiesOf(const std::u16string& stItemID)
{
    std::vector<sOPCNode*> found;
    const int owner = core_.GetIndexOfstItemID(stItemID);
    if (owner < 0)
        return found;
    const std::int32_t ident = core_.node(owner).Ident;
    for (int i = 0; i < core_.nodeCount(); ++i) {
        sOPCNode& n = core_.node(i);
        if (n.NodeType == ntProperty && n.Parent == ident)
            found.push_back(&n);
    }
    return found;
}

int sOPCBrowse::GetPropertyCount(const std::u16string& stItemID)
{
    return static_cast<int>(propertiesOf(stItemID).size());
}

sOPCNode* sOPCBrowse::GetProperty(const std::u16string& stItemID, int index)
{
    const auto props = propertiesOf(stItemID);
    return index >= 0 && index < static_cast<int>(props.size()) ? props[static_cast<std::size_t>(index)] : nullptr;
}

const sOPCNode* sOPCBrowse::FindProperty(const std::u16string& stItemID, com::DWORD dwPropertyID)
{
    const sOPCNode* found = nullptr;
    for (const sOPCNode* p : propertiesOf(stItemID))
        if (p->dwPropertyID == dwPropertyID)
            found = p;
    return found;
}

} // namespace opcda

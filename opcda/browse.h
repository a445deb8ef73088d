#pragma once
// One client's position in the address space, and the lookups of browsing
// and of item properties. Only reads the node table, complete by then.

#include "opcda/opc_core.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace opcda {

class sOPCBrowse {
public:
    explicit sOPCBrowse(sOPC& core) : core_(core) {}

    bool BrowseUp();
    bool BrowseDown(const std::u16string& stBranch);
    bool BrowseTo(const std::u16string& stItemID);
    std::vector<std::u16string> BrowseOPCItems(com::DWORD filter);
    std::u16string GetItemID(const std::u16string& stItemDataID);
    int GetPropertyCount(const std::u16string& stItemID);
    sOPCNode* GetProperty(const std::u16string& stItemID, int index);
    // The item's property with this id (the last one in table order), or null.
    const sOPCNode* FindProperty(const std::u16string& stItemID, com::DWORD dwPropertyID);

private:
    std::vector<sOPCNode*> propertiesOf(const std::u16string& stItemID);

    sOPC& core_;
    std::atomic<std::int32_t> FParent{0};
};

} // namespace opcda

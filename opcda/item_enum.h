#pragma once
// IEnumOPCItemAttributes over a group's live item list: it holds the group,
// and reads the list under the group's lock at every call, so items added or
// removed between calls shift what it sees.

#include "compat/com/unknown.h"
#include "opcda/opc_defs.h"

#include <atomic>

namespace opcda {

class sOPCGroup;

class sOPCItemEnumerator final : public com::ComObject<IEnumOPCItemAttributes> {
public:
    explicit sOPCItemEnumerator(com::ComPtr<sOPCGroup> group, std::size_t position = 0);

    com::HRESULT Next(com::ULONG celt, OPCITEMATTRIBUTES** ppItemArray, com::ULONG* pceltFetched) override;
    com::HRESULT Skip(com::ULONG celt) override;
    com::HRESULT Reset() override;
    com::HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override;

private:
    com::ComPtr<sOPCGroup> group_;
    std::atomic<std::size_t> nextIndex;
};

// Frees the strings and values inside `count` attributes, then the array.
void freeItemAttributes(OPCITEMATTRIBUTES* attributes, com::ULONG count);

} // namespace opcda

#pragma once
// IEnumString over a list of names. Clones share the list, which lives as
// long as the last enumerator over it; a node's access-path list is shared
// the same way and never freed by an enumerator.

#include "compat/com/interfaces.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace opcda {

using StringList = std::shared_ptr<const std::vector<std::u16string>>;

class sOPCStringEnumerator final : public com::ComObject<com::IEnumString> {
public:
    explicit sOPCStringEnumerator(StringList list, std::size_t position = 0);

    com::HRESULT Next(com::ULONG celt, com::LPOLESTR* rgelt, com::ULONG* pceltFetched) override;
    com::HRESULT Skip(com::ULONG celt) override;
    com::HRESULT Reset() override;
    com::HRESULT Clone(com::IEnumString** ppenum) override;

private:
    StringList FList;
    std::atomic<std::size_t> nextIndex;
};

} // namespace opcda

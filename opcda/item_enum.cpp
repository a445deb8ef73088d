#include "opcda/item_enum.h"

#include "opcda/framework.h"
#include "opcda/group.h"

#include <algorithm>

namespace opcda {

using namespace com;

sOPCItemEnumerator::sOPCItemEnumerator(ComPtr<sOPCGroup> group, std::size_t position)
    : group_(std::move(group)), nextIndex(position)
{
}

void freeItemAttributes(OPCITEMATTRIBUTES* attributes, ULONG count)
{
    if (!attributes)
        return;
    for (ULONG i = 0; i < count; ++i) {
        CoTaskMemFree(attributes[i].szAccessPath);
        CoTaskMemFree(attributes[i].szItemID);
        VariantClear(&attributes[i].vEUInfo);
    }
    CoTaskMemFree(attributes);
}

HRESULT sOPCItemEnumerator::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched)
{
    LogLine(formatText("sOPCItemEnumerator.Next - %d", static_cast<int>(celt)));
    return guarded("sOPCItemEnumerator.Next - Exception", [&]() -> HRESULT {
        if (pceltFetched)
            *pceltFetched = 0;
        if (!ppItemArray)
            return E_INVALIDARG;
        *ppItemArray = nullptr;
        if (celt == 0)
            return ENUM_VALUE_OUT_OF_RANGE;
        if (!pceltFetched && celt != 1)
            return E_INVALIDARG;
        // A client may ask for far more than there is ("all of them"): the
        // array is as large as what is left, not as what was asked.
        std::size_t i = nextIndex.load();
        const std::size_t count = group_->itemCount();
        const auto room = static_cast<ULONG>(std::min<std::size_t>(celt, count > i ? count - i : 0));
        if (room == 0)
            return S_FALSE;
        HRESULT hr = S_OK;
        auto* items = taskAlloc<OPCITEMATTRIBUTES>(room, hr);
        if (!items)
            return hr;
        ULONG fetched = 0;
        while (fetched < room && group_->itemAttributes(i, items[fetched])) {
            ++fetched;
            ++i;
        }
        nextIndex = i;
        if (fetched == 0) {
            // Nothing to hand out: no empty array for the client to free.
            CoTaskMemFree(items);
            return S_FALSE;
        }
        *ppItemArray = items;
        if (pceltFetched)
            *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    });
}

HRESULT sOPCItemEnumerator::Skip(ULONG celt)
{
    LogLine(formatText("sOPCItemEnumerator.Skip - %d", static_cast<int>(celt)));
    const std::size_t count = group_->itemCount();
    const std::uint64_t target = static_cast<std::uint64_t>(nextIndex.load()) + celt;
    if (target > count) {
        nextIndex = count;
        return S_FALSE;
    }
    nextIndex = static_cast<std::size_t>(target);
    return S_OK;
}

HRESULT sOPCItemEnumerator::Reset()
{
    nextIndex = 0;
    return S_OK;
}

HRESULT sOPCItemEnumerator::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes)
{
    LogLine("sOPCItemEnumerator.Clone");
    return guarded("sOPCItemEnumerator.Clone - Exception", [&]() -> HRESULT {
        if (!ppEnumItemAttributes)
            return E_INVALIDARG;
        *ppEnumItemAttributes = new sOPCItemEnumerator(group_, nextIndex.load());
        return S_OK;
    });
}

} // namespace opcda

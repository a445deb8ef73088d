#include "opcda/string_enum.h"

#include "compat/com/taskmem.h"
#include "opcda/framework.h"
#include "opcda/opc_defs.h"

namespace opcda {

sOPCStringEnumerator::sOPCStringEnumerator(StringList list, std::size_t position)
    : FList(list ? std::move(list) : std::make_shared<const std::vector<std::u16string>>()), nextIndex(position)
{
}

com::HRESULT sOPCStringEnumerator::Next(com::ULONG celt, com::LPOLESTR* rgelt, com::ULONG* pceltFetched)
{
    LogLine(formatText("sOPCStringEnumerator.Next - %d", static_cast<int>(celt)));
    // A caller asking for one string may leave out the count.
    if (!pceltFetched && celt != 1)
        return com::E_INVALIDARG;
    if (pceltFetched)
        *pceltFetched = 0;
    if (celt < 1)
        return ENUM_VALUE_OUT_OF_RANGE;
    if (!rgelt)
        return com::E_INVALIDARG;
    const std::size_t count = FList->size();
    std::size_t i = nextIndex.load();
    if (i >= count)
        return com::S_FALSE;
    com::ULONG fetched = 0;
    for (; fetched < celt && i < count; ++fetched, ++i) {
        rgelt[fetched] = com::taskStrDup((*FList)[i]);
        if (!rgelt[fetched]) {
            for (com::ULONG k = 0; k < fetched; ++k) {
                com::CoTaskMemFree(rgelt[k]);
                rgelt[k] = nullptr;
            }
            return com::E_OUTOFMEMORY;
        }
    }
    nextIndex = i;
    if (pceltFetched)
        *pceltFetched = fetched;
    return fetched == celt ? com::S_OK : com::S_FALSE;
}

com::HRESULT sOPCStringEnumerator::Skip(com::ULONG celt)
{
    LogLine(formatText("sOPCStringEnumerator.Skip - %d", static_cast<int>(celt)));
    const std::size_t count = FList->size();
    // Wide arithmetic: a huge celt must not wrap the position.
    const std::uint64_t target = static_cast<std::uint64_t>(nextIndex.load()) + celt;
    if (target <= count) {
        nextIndex = static_cast<std::size_t>(target);
        return com::S_OK;
    }
    nextIndex = count;
    return com::S_FALSE;
}

com::HRESULT sOPCStringEnumerator::Reset()
{
    nextIndex = 0;
    return com::S_OK;
}

com::HRESULT sOPCStringEnumerator::Clone(com::IEnumString** ppenum)
{
    LogLine("sOPCStringEnumerator.Clone");
    if (!ppenum)
        return com::E_INVALIDARG;
    *ppenum = nullptr;
    *ppenum = new sOPCStringEnumerator(FList, nextIndex.load());
    return com::S_OK;
}

} // namespace opcda

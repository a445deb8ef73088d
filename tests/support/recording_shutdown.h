#pragma once
// A client's shutdown sink that keeps every reason the server gave, for the
// tests that connect it to an OPC DA server (the library's and opcstation's).

#include "compat/com/unknown.h"
#include "opcda/opc_defs.h"

#include <string>
#include <vector>

namespace opcda::test {

class RecordingShutdown final : public com::ComObject<IOPCShutdown> {
public:
    HRESULT ShutdownRequest(LPCWSTR szReason) override
    {
        reasons.emplace_back(szReason);
        return S_OK;
    }
    std::vector<std::u16string> reasons;
};

} // namespace opcda::test

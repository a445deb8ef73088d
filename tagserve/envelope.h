// The header every request starts with, the header every response starts
// with, and the ServiceFault that carries a service-level error.
#pragma once

#include "binary.h"

#include <cstdint>
#include <string>

namespace tagserve {

struct RequestHeader {
    NodeId authenticationToken;
    int64_t timestamp = 0;
    uint32_t requestHandle = 0;
    uint32_t returnDiagnostics = 0;
    uint32_t timeoutHint = 0;
};

RequestHeader ReadRequestHeader(Reader& r);

// Starts a response body: its encoding id, then the ResponseHeader.
void BeginResponse(Writer& w, uint32_t responseType, uint32_t requestHandle, uint32_t serviceResult = 0);

// A complete ServiceFault body.
std::string ServiceFault(uint32_t requestHandle, uint32_t serviceResult);

} // namespace tagserve

#include "envelope.h"

#include "clock.h"
#include "ids.h"

namespace tagserve {

RequestHeader ReadRequestHeader(Reader& r)
{
    RequestHeader h;
    h.authenticationToken = r.ReadNodeId();
    h.timestamp = r.Int64();
    h.requestHandle = r.UInt32();
    h.returnDiagnostics = r.UInt32();
    r.String(); // auditEntryId
    h.timeoutHint = r.UInt32();
    r.ReadExtensionObject(); // additionalHeader
    return h;
}

void BeginResponse(Writer& w, uint32_t responseType, uint32_t requestHandle, uint32_t serviceResult)
{
    w.WriteNodeId(NodeId(0, responseType));
    w.Int64(UaNow());
    w.UInt32(requestHandle);
    w.UInt32(serviceResult);
    w.EmptyDiagnosticInfo();
    w.EmptyArray(); // stringTable
    w.NullExtensionObject();
}

std::string ServiceFault(uint32_t requestHandle, uint32_t serviceResult)
{
    Writer w;
    BeginResponse(w, msg::ServiceFault, requestHandle, serviceResult);
    return std::move(w.Bytes());
}

} // namespace tagserve

// View services: Browse, BrowseNext, TranslateBrowsePaths, RegisterNodes
// and UnregisterNodes.
#include "services.h"

#include "ids.h"

#include <algorithm>

namespace tagserve {

namespace {

constexpr uint32_t kMaxReferencesPerNode = 1000;

} // namespace

bool Services::Matches(const BrowseFilter& f, const Reference& ref) const
{
    if (!space_.Follows(ref, f.direction, f.referenceType, f.includeSubtypes))
        return false;
    return f.nodeClassMask == 0 || (f.nodeClassMask & static_cast<uint32_t>(space_.At(ref.target).nodeClass)) != 0;
}

void Services::WriteBrowseResult(Writer& w, Session& session, BrowseFilter filter, size_t offset, uint32_t max)
{
    const Node& node = space_.At(filter.node);
    uint32_t limit = max == 0 ? kMaxReferencesPerNode : std::min(max, kMaxReferencesPerNode);
    // The references are written into a side buffer: the status and the
    // continuation point come first on the wire but are known only at the end.
    Writer refs;
    uint32_t count = 0;
    size_t i = offset;
    for (; i < node.references.size(); ++i) {
        const Reference& ref = node.references[i];
        if (!Matches(filter, ref))
            continue;
        if (count == limit)
            break;
        const Node& target = space_.At(ref.target);
        uint32_t mask = filter.resultMask;
        refs.WriteNodeId(mask & 0x01 ? NodeId(0, ref.type) : NodeId());
        refs.Boolean(mask & 0x02 ? ref.forward : false);
        refs.WriteExpandedNodeId(target.id);
        refs.WriteQualifiedName(mask & 0x08 ? target.BrowseName() : QualifiedName{});
        refs.WriteLocalizedText(mask & 0x10 ? LocalizedText::Of(*target.name) : LocalizedText{});
        refs.Int32(mask & 0x04 ? static_cast<int32_t>(target.nodeClass) : 0);
        bool typed = target.nodeClass == NodeClass::Object || target.nodeClass == NodeClass::Variable;
        refs.WriteExpandedNodeId(NodeId(0, mask & 0x20 && typed ? target.typeDefinition : 0));
        ++count;
    }
    bool more = false;
    for (size_t j = i; j < node.references.size() && !more; ++j)
        more = Matches(filter, node.references[j]);
    if (more && session.continuationPoints.size() >= kMaxContinuationPoints) {
        w.UInt32(status::BadNoContinuationPoints);
        w.Int32(-1);
        w.EmptyArray();
        return;
    }
    w.UInt32(status::Good);
    if (more) {
        ContinuationPoint cp{RandomBytes(8), filter, i, max};
        w.ByteString(cp.id);
        session.continuationPoints.push_back(std::move(cp));
    } else {
        w.Int32(-1);
    }
    w.Int32(static_cast<int32_t>(count));
    w.Raw(refs.Bytes());
}

void Services::Browse(Call& call, Reader& r)
{
    NodeId view = r.ReadNodeId();
    r.Int64();
    r.UInt32();
    uint32_t max = r.UInt32();
    int32_t n = r.ArrayLength();
    if (!view.IsNull())
        return Fault(call, status::BadViewIdUnknown);
    if (uint32_t st = OperationCountStatus(n); st != status::Good)
        return Fault(call, st);
    Writer w;
    BeginResponse(w, msg::BrowseResponse, call.header.requestHandle);
    w.Int32(n);
    for (int32_t k = 0; k < n; ++k) {
        NodeId id = r.ReadNodeId();
        BrowseFilter f;
        f.direction = r.UInt32();
        f.referenceType = r.ReadNodeId();
        f.includeSubtypes = r.Boolean();
        f.nodeClassMask = r.UInt32();
        f.resultMask = r.UInt32();
        int32_t index = space_.IndexOf(id);
        uint32_t st = status::Good;
        if (index < 0)
            st = status::BadNodeIdUnknown;
        else if (f.direction > 2)
            st = status::BadBrowseDirectionInvalid;
        else if (!f.referenceType.IsNull() && !space_.IsReferenceType(f.referenceType))
            st = status::BadReferenceTypeIdInvalid;
        if (st != status::Good) {
            w.UInt32(st);
            w.Int32(-1);
            w.EmptyArray();
            continue;
        }
        f.node = static_cast<uint32_t>(index);
        WriteBrowseResult(w, *call.session, f, 0, max);
    }
    w.EmptyArray();
    Reply(call, w);
}

void Services::BrowseNext(Call& call, Reader& r)
{
    bool release = r.Boolean();
    int32_t n = r.ArrayLength();
    if (uint32_t st = OperationCountStatus(n); st != status::Good)
        return Fault(call, st);
    Session& session = *call.session;
    Writer w;
    BeginResponse(w, msg::BrowseNextResponse, call.header.requestHandle);
    w.Int32(n);
    for (int32_t k = 0; k < n; ++k) {
        std::string id = r.ByteString();
        auto it = std::find_if(session.continuationPoints.begin(), session.continuationPoints.end(),
                               [&](const ContinuationPoint& cp) { return cp.id == id; });
        if (it == session.continuationPoints.end()) {
            w.UInt32(status::BadContinuationPointInvalid);
            w.Int32(-1);
            w.EmptyArray();
            continue;
        }
        ContinuationPoint cp = std::move(*it);
        session.continuationPoints.erase(it);
        if (release) {
            w.UInt32(status::Good);
            w.Int32(-1);
            w.EmptyArray();
            continue;
        }
        WriteBrowseResult(w, session, cp.filter, cp.offset, cp.maxReferences);
    }
    w.EmptyArray();
    Reply(call, w);
}

void Services::TranslateBrowsePaths(Call& call, Reader& r)
{
    TranslateBrowsePathsRequest req = DecodeTranslateBrowsePathsRequest(r);
    if (uint32_t st = OperationCountStatus(static_cast<int32_t>(req.browsePaths.size())); st != status::Good)
        return Fault(call, st);
    Writer w;
    BeginResponse(w, msg::TranslateBrowsePathsResponse, call.header.requestHandle);
    w.Int32(static_cast<int32_t>(req.browsePaths.size()));
    size_t visits = 0; // references looked at for the whole request
    for (const BrowsePath& path : req.browsePaths) {
        PathTargets found = space_.Walk(path, visits);
        w.UInt32(found.status);
        w.Int32(static_cast<int32_t>(found.nodes.size()));
        for (uint32_t node : found.nodes) {
            w.WriteExpandedNodeId(space_.At(node).id);
            w.UInt32(0xFFFFFFFFu);
        }
    }
    w.EmptyArray();
    Reply(call, w);
}

void Services::RegisterNodes(Call& call, Reader& r)
{
    int32_t n = r.ArrayLength();
    if (uint32_t st = OperationCountStatus(n); st != status::Good)
        return Fault(call, st);
    Writer w;
    BeginResponse(w, msg::RegisterNodesResponse, call.header.requestHandle);
    w.Int32(n);
    for (int32_t k = 0; k < n; ++k)
        w.WriteNodeId(r.ReadNodeId());
    Reply(call, w);
}

void Services::UnregisterNodes(Call& call, Reader& r)
{
    // Registering keeps nothing, so there is nothing to release; only the count is checked.
    int32_t n = r.ArrayLength();
    if (uint32_t st = OperationCountStatus(n); st != status::Good)
        return Fault(call, st);
    Writer w;
    BeginResponse(w, msg::UnregisterNodesResponse, call.header.requestHandle);
    Reply(call, w);
}

} // namespace tagserve

// View and attribute services: Browse, BrowseNext, TranslateBrowsePaths,
// RegisterNodes, UnregisterNodes, Read and Write.
#include "services.h"

#include "clock.h"
#include "ids.h"

#include <algorithm>

namespace tagserve {

namespace {

constexpr uint32_t kMaxReferencesPerNode = 1000;
// References one TranslateBrowsePaths request may look at: a path can go back
// and forth between nodes as often as it likes, and the server thread must
// not stall on it. Ordinary requests look at a few thousand.
constexpr size_t kMaxTranslateVisits = 2000000;

} // namespace

bool Services::Matches(const BrowseFilter& f, const Reference& ref) const
{
    if (f.direction == 0 && !ref.forward)
        return false;
    if (f.direction == 1 && ref.forward)
        return false;
    if (!f.referenceType.IsNull()) {
        uint32_t want = f.referenceType.numeric;
        if (f.includeSubtypes ? !space_.IsSubtypeOf(ref.type, want) : ref.type != want)
            return false;
    }
    if (f.nodeClassMask != 0 &&
        (f.nodeClassMask & static_cast<uint32_t>(space_.At(ref.target).nodeClass)) == 0)
        return false;
    return true;
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
        refs.WriteQualifiedName(mask & 0x08 ? target.browseName : QualifiedName{});
        refs.WriteLocalizedText(mask & 0x10 ? LocalizedText::Of(target.browseName.name) : LocalizedText{});
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
    int32_t n = r.ArrayLength();
    if (uint32_t st = OperationCountStatus(n); st != status::Good)
        return Fault(call, st);
    Writer w;
    BeginResponse(w, msg::TranslateBrowsePathsResponse, call.header.requestHandle);
    w.Int32(n);
    size_t visits = 0; // references looked at for the whole request
    for (int32_t k = 0; k < n; ++k) {
        NodeId start = r.ReadNodeId();
        int32_t elements = r.ArrayLength();
        struct Element {
            NodeId referenceType;
            bool inverse, includeSubtypes;
            QualifiedName target;
        };
        std::vector<Element> path(static_cast<size_t>(elements));
        for (auto& e : path) {
            e.referenceType = r.ReadNodeId();
            e.inverse = r.Boolean();
            e.includeSubtypes = r.Boolean();
            e.target = r.ReadQualifiedName();
        }
        int32_t startIndex = space_.IndexOf(start);
        uint32_t st = status::Good;
        if (startIndex < 0)
            st = status::BadNodeIdUnknown;
        else if (path.empty())
            st = status::BadNothingToDo;
        for (const auto& e : path)
            if (e.target.name.empty())
                st = st == status::Good ? status::BadBrowseNameInvalid : st;
        std::vector<uint32_t> current;
        if (st == status::Good)
            current.push_back(static_cast<uint32_t>(startIndex));
        for (size_t e = 0; e < path.size() && !current.empty(); ++e) {
            BrowseFilter f;
            f.direction = path[e].inverse ? 1 : 0;
            f.referenceType = path[e].referenceType;
            f.includeSubtypes = path[e].includeSubtypes;
            std::vector<uint32_t> next;
            for (uint32_t node : current) {
                const std::vector<Reference>& refs = space_.At(node).references;
                visits += refs.size();
                if (visits > kMaxTranslateVisits)
                    break;
                for (const Reference& ref : refs)
                    if (space_.At(ref.target).browseName == path[e].target && Matches(f, ref))
                        next.push_back(ref.target);
            }
            if (visits > kMaxTranslateVisits) {
                st = status::BadTooManyOperations;
                current.clear();
                break;
            }
            // A node reached over several references, or from several nodes, is one target.
            std::sort(next.begin(), next.end());
            next.erase(std::unique(next.begin(), next.end()), next.end());
            current.swap(next);
        }
        if (st == status::Good && current.empty())
            st = status::BadNoMatch;
        w.UInt32(st);
        w.Int32(static_cast<int32_t>(current.size()));
        for (uint32_t node : current) {
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

void Services::UnregisterNodes(Call& call, Reader&)
{
    Writer w;
    BeginResponse(w, msg::UnregisterNodesResponse, call.header.requestHandle);
    Reply(call, w);
}

void Services::Read(Call& call, Reader& r)
{
    double maxAge = r.Double();
    uint32_t timestamps = r.UInt32();
    int32_t n = r.ArrayLength();
    if (maxAge < 0)
        return Fault(call, status::BadMaxAgeInvalid);
    if (timestamps > 3)
        return Fault(call, status::BadTimestampsToReturnInvalid);
    if (uint32_t st = OperationCountStatus(n); st != status::Good)
        return Fault(call, st);
    Writer w;
    BeginResponse(w, msg::ReadResponse, call.header.requestHandle);
    w.Int32(n);
    for (int32_t k = 0; k < n; ++k) {
        NodeId id = r.ReadNodeId();
        uint32_t attributeId = r.UInt32();
        bool noRange = true;
        r.String(&noRange);
        QualifiedName encoding = r.ReadQualifiedName();
        DataValue bad;
        bad.mask = DataValue::HasStatus;
        const Node* node = space_.Find(id);
        if (!node)
            bad.status = status::BadNodeIdUnknown;
        else if (!noRange)
            bad.status = status::BadIndexRangeInvalid;
        else if (!encoding.name.empty() && !(encoding.ns == 0 && encoding.name == "Default Binary"))
            bad.status = status::BadDataEncodingInvalid;
        if (bad.status != status::Good)
            w.WriteDataValue(bad);
        else
            w.WriteDataValue(space_.ReadAttribute(*node, attributeId, static_cast<TimestampsToReturn>(timestamps)));
    }
    w.EmptyArray();
    Reply(call, w);
}

uint32_t Services::WriteOne(const NodeId& id, uint32_t attributeId, bool hasIndexRange, const DataValue& value)
{
    const Node* node = space_.Find(id);
    if (!node)
        return status::BadNodeIdUnknown;
    if (attributeId != attr::Value || node->nodeClass != NodeClass::Variable)
        return status::BadNotWritable;
    // Without a callback the gateway cannot act on a write: treat it as read-only.
    if (!(node->accessLevel & kAccessWrite) || node->modelIndex < 0 || config_.callback == nullptr)
        return status::BadNotWritable;
    if (hasIndexRange)
        return status::BadIndexRangeInvalid;
    if (value.mask & ~DataValue::HasValue)
        return status::BadWriteNotSupported;
    const Variant& v = value.value;
    uint8_t expected = node->varType == VarType::Boolean ? type::Boolean
                       : node->varType == VarType::Int32 ? type::Int32
                                                         : type::Double;
    if (!v.IsScalar() || v.type != expected)
        return status::BadTypeMismatch;

    WriteSlots slots;
    const Scalar& s = v.values[0];
    switch (node->varType) {
    case VarType::Boolean:
        slots.b = std::get<bool>(s);
        slots.i32 = slots.b ? 1 : 0;
        slots.dbl = slots.b ? 1 : 0;
        break;
    case VarType::Int32:
        slots.i32 = static_cast<int32_t>(std::get<int64_t>(s));
        slots.dbl = slots.i32;
        slots.b = slots.i32 != 0;
        break;
    case VarType::Double:
        slots.dbl = std::get<double>(s);
        slots.i32 = SaturateToInt32(slots.dbl);
        slots.b = slots.dbl != 0;
        break;
    }
    auto index = static_cast<uint32_t>(node->modelIndex);
    model_.StoreWrite(index, slots);
    // The callback runs here, on the server thread, with no lock of ours held.
    config_.callback(model_.Variables()[index].id);
    return status::Good;
}

void Services::Write(Call& call, Reader& r)
{
    int32_t n = r.ArrayLength();
    if (uint32_t st = OperationCountStatus(n); st != status::Good)
        return Fault(call, st);
    // Decoded whole before any write is done, so a broken request writes nothing.
    struct Item {
        NodeId id;
        uint32_t attributeId;
        bool hasIndexRange;
        DataValue value;
    };
    std::vector<Item> items(static_cast<size_t>(n));
    for (Item& item : items) {
        item.id = r.ReadNodeId();
        item.attributeId = r.UInt32();
        bool noRange = true;
        r.String(&noRange);
        item.hasIndexRange = !noRange;
        item.value = r.ReadDataValue();
    }
    std::vector<uint32_t> results;
    for (const Item& item : items)
        results.push_back(WriteOne(item.id, item.attributeId, item.hasIndexRange, item.value));
    Writer w;
    BeginResponse(w, msg::WriteResponse, call.header.requestHandle);
    w.StatusArray(results);
    w.EmptyArray();
    Reply(call, w);
}

} // namespace tagserve

// Attribute services: Read and Write.
#include "services.h"

#include "ids.h"

namespace tagserve {

void Services::Read(Call& call, Reader& r)
{
    ReadRequest req = DecodeReadRequest(r);
    if (req.maxAge < 0)
        return Fault(call, status::BadMaxAgeInvalid);
    if (req.timestampsToReturn > 3)
        return Fault(call, status::BadTimestampsToReturnInvalid);
    if (uint32_t st = OperationCountStatus(static_cast<int32_t>(req.nodesToRead.size())); st != status::Good)
        return Fault(call, st);
    auto timestamps = static_cast<TimestampsToReturn>(req.timestampsToReturn);
    Writer w;
    BeginResponse(w, msg::ReadResponse, call.header.requestHandle);
    w.Int32(static_cast<int32_t>(req.nodesToRead.size()));
    for (const ReadValueId& item : req.nodesToRead) {
        DataValue bad;
        bad.mask = DataValue::HasStatus;
        const Node* node = space_.Find(item.nodeId);
        const QualifiedName& encoding = item.dataEncoding;
        if (!node)
            bad.status = status::BadNodeIdUnknown;
        else if (item.hasIndexRange)
            bad.status = status::BadIndexRangeInvalid;
        else if (!encoding.name.empty() && !(encoding.ns == 0 && encoding.name == "Default Binary"))
            bad.status = status::BadDataEncodingInvalid;
        if (bad.status != status::Good)
            w.WriteDataValue(bad);
        else
            w.WriteDataValue(space_.ReadAttribute(*node, item.attributeId, timestamps));
    }
    w.EmptyArray();
    Reply(call, w);
}

uint32_t Services::WriteOne(const WriteValue& item)
{
    const Node* node = space_.Find(item.nodeId);
    if (!node)
        return status::BadNodeIdUnknown;
    if (item.attributeId == 0 || item.attributeId > attr::Last)
        return status::BadAttributeIdInvalid;
    if (item.attributeId != attr::Value || node->nodeClass != NodeClass::Variable)
        return status::BadNotWritable;
    // Without a callback the gateway cannot act on a write: treat it as read-only.
    if (!(node->accessLevel & kAccessWrite) || node->modelIndex < 0
        || (config_.callback == nullptr && config_.statusCallback == nullptr))
        return status::BadNotWritable;
    if (item.hasIndexRange)
        return status::BadIndexRangeInvalid;
    if (item.value.mask & ~DataValue::HasValue)
        return status::BadWriteNotSupported;
    const Variant& v = item.value.value;
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
    const int32_t id = model_.Variables()[index].id;
    if (config_.statusCallback != nullptr)
        return config_.statusCallback(id);
    config_.callback(id);
    return status::Good;
}

void Services::Write(Call& call, Reader& r)
{
    // Decoded whole before any write is done, so a broken request writes nothing.
    WriteRequest req = DecodeWriteRequest(r);
    if (uint32_t st = OperationCountStatus(static_cast<int32_t>(req.nodesToWrite.size())); st != status::Good)
        return Fault(call, st);
    std::vector<uint32_t> results;
    for (const WriteValue& item : req.nodesToWrite)
        results.push_back(WriteOne(item));
    Writer w;
    BeginResponse(w, msg::WriteResponse, call.header.requestHandle);
    w.StatusArray(results);
    w.EmptyArray();
    Reply(call, w);
}

} // namespace tagserve

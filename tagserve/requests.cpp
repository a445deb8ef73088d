#include "requests.h"

namespace tagserve {

namespace {

bool ReadIndexRange(Reader& r)
{
    bool isNull = true;
    r.String(&isNull);
    return !isNull;
}

// Array lengths are checked against the bytes left, so the vectors stay small for hostile counts.
template <typename T, typename Decode>
std::vector<T> ReadArray(Reader& r, Decode decode)
{
    std::vector<T> items(static_cast<size_t>(r.ArrayLength()));
    for (T& item : items)
        decode(item);
    return items;
}

} // namespace

ReadRequest DecodeReadRequest(Reader& r)
{
    ReadRequest req;
    req.maxAge = r.Double();
    req.timestampsToReturn = r.UInt32();
    req.nodesToRead = ReadArray<ReadValueId>(r, [&](ReadValueId& item) {
        item.nodeId = r.ReadNodeId();
        item.attributeId = r.UInt32();
        item.hasIndexRange = ReadIndexRange(r);
        item.dataEncoding = r.ReadQualifiedName();
    });
    return req;
}

WriteRequest DecodeWriteRequest(Reader& r)
{
    WriteRequest req;
    req.nodesToWrite = ReadArray<WriteValue>(r, [&](WriteValue& item) {
        item.nodeId = r.ReadNodeId();
        item.attributeId = r.UInt32();
        item.hasIndexRange = ReadIndexRange(r);
        item.value = r.ReadDataValue();
    });
    return req;
}

TranslateBrowsePathsRequest DecodeTranslateBrowsePathsRequest(Reader& r)
{
    TranslateBrowsePathsRequest req;
    req.browsePaths = ReadArray<BrowsePath>(r, [&](BrowsePath& path) {
        path.startingNode = r.ReadNodeId();
        path.elements = ReadArray<RelativePathElement>(r, [&](RelativePathElement& e) {
            e.referenceTypeId = r.ReadNodeId();
            e.isInverse = r.Boolean();
            e.includeSubtypes = r.Boolean();
            e.targetName = r.ReadQualifiedName();
        });
    });
    return req;
}

} // namespace tagserve

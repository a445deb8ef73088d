// The bodies of the Read, Write and TranslateBrowsePaths requests as plain
// structures. The services decode a whole request before acting on it, so a
// truncated request does nothing; the tests decode captured client requests
// with the same code.
#pragma once

#include "binary.h"

#include <cstdint>
#include <vector>

namespace tagserve {

struct ReadValueId {
    NodeId nodeId;
    uint32_t attributeId = 0;
    bool hasIndexRange = false;
    QualifiedName dataEncoding;
};

struct ReadRequest {
    double maxAge = 0;
    uint32_t timestampsToReturn = 0;
    std::vector<ReadValueId> nodesToRead;
};

struct WriteValue {
    NodeId nodeId;
    uint32_t attributeId = 0;
    bool hasIndexRange = false;
    DataValue value;
};

struct WriteRequest {
    std::vector<WriteValue> nodesToWrite;
};

struct RelativePathElement {
    NodeId referenceTypeId;
    bool isInverse = false;
    bool includeSubtypes = false;
    QualifiedName targetName;
};

struct BrowsePath {
    NodeId startingNode;
    std::vector<RelativePathElement> elements;
};

struct TranslateBrowsePathsRequest {
    std::vector<BrowsePath> browsePaths;
};

// Each reads the body that follows the RequestHeader; throws DecodeError.
ReadRequest DecodeReadRequest(Reader& r);
WriteRequest DecodeWriteRequest(Reader& r);
TranslateBrowsePathsRequest DecodeTranslateBrowsePathsRequest(Reader& r);

} // namespace tagserve

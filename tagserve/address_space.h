// The node store: namespace 0 (the minimum standard clients expect) and
// namespace 1 (the gateway's groups and variables), with references in both
// directions, attribute reads and the browse filter.
#pragma once

#include "binary.h"
#include "ids.h"
#include "model.h"
#include "requests.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tagserve {

struct Reference {
    uint32_t type; // reference type, ns 0 numeric id
    bool forward;
    uint32_t target; // node index
};

// Values of ns 0 variables that change while the server runs.
enum class LiveValue : uint8_t { None, CurrentTime, ServerStatus, State };

// The id of a node of this server: every one is numeric. There is a node per
// gateway variable, so it is kept in 8 bytes rather than a whole NodeId.
struct NumericNodeId {
    uint16_t ns = 0;
    uint32_t numeric = 0;
    operator NodeId() const { return NodeId(ns, numeric); }
};

// What only nodes of namespace 0 carry (reference types, abstract types,
// the server's variables with fixed or live values): held apart, so the node
// of each gateway variable does without it.
struct NodeExtras {
    std::string name;             // the browse name
    const char* inverseName = ""; // reference types: a literal of the namespace 0 table
    Variant value;                // a variable with a fixed value
    bool isAbstract = false;
    bool symmetric = false;
    LiveValue live = LiveValue::None;
};

// The fields are in the order that packs them tightest: there is one node
// per gateway variable.
struct Node {
    NumericNodeId id;
    NodeClass nodeClass = NodeClass::Object;
    uint32_t typeDefinition = 0; // Objects and Variables: a type node of ns 0
    // The browse name, in the node's own namespace: the model's name of a
    // group or variable (fixed while the space exists), else the extras'.
    const std::string* name = nullptr;
    std::vector<Reference> references;
    std::unique_ptr<NodeExtras> extras; // namespace 0 only
    // Variables and VariableTypes.
    uint32_t dataType = 0; // a DataType node of ns 0
    int32_t valueRank = -1;
    int32_t modelIndex = -1; // gateway variable: its index in the model
    VarType varType = VarType::Boolean;
    uint8_t accessLevel = 1;

    const NodeExtras& Extras() const;
    QualifiedName BrowseName() const { return {id.ns, *name}; }
    bool HasBrowseName(const QualifiedName& q) const { return q.ns == id.ns && q.name == *name; }
    // Gateway variables are sampled faster than the server's own.
    double MinimumSamplingInterval() const { return modelIndex >= 0 ? 100 : 1000; }
};

// Facts about this server that show in namespace 0 and in the endpoints.
struct ServerInfo {
    std::string applicationUri;
    std::string productUri = "urn:tagserve";
    std::string productName = "tagserve";
    std::string manufacturer = "tagserve";
    std::string softwareVersion = "1.0";
    std::string namespaceUri = "urn:tagserve:gateway";
    int64_t startTime = 0;
};

constexpr uint8_t kAccessRead = 0x01, kAccessWrite = 0x02;

// References one TranslateBrowsePaths request may look at: a path can go back
// and forth between nodes as often as it likes, and the server thread must
// not stall on it. Ordinary requests look at a few thousand.
constexpr size_t kMaxTranslateVisits = 2000000;

// Where a browse path leads: the node indexes reached, or why none.
struct PathTargets {
    uint32_t status = 0;
    std::vector<uint32_t> nodes;
};

enum class TimestampsToReturn : uint32_t { Source = 0, Server = 1, Both = 2, Neither = 3 };

class AddressSpace {
public:
    AddressSpace(const ServerInfo& info, const Model& model);

    const Node* Find(const NodeId& id) const;
    int32_t IndexOf(const NodeId& id) const; // -1 when unknown
    const Node& At(uint32_t index) const { return nodes_[index]; }
    size_t Size() const { return nodes_.size(); }

    // True when type is base or one of its subtypes (HasSubtype closure).
    bool IsSubtypeOf(uint32_t type, uint32_t base) const;
    bool IsReferenceType(const NodeId& id) const;
    // True when a browse in the direction (0 forward, 1 inverse, 2 both) for
    // the reference type (null: any) takes the reference.
    bool Follows(const Reference& ref, uint32_t direction, const NodeId& referenceType, bool includeSubtypes) const;
    // Walks a path from its starting node, one element at a time. visits counts
    // the references looked at, over all paths of one request.
    PathTargets Walk(const BrowsePath& path, size_t& visits) const;

    DataValue ReadAttribute(const Node& node, uint32_t attributeId, TimestampsToReturn timestamps) const;
    // The Value attribute of a gateway variable from a snapshot.
    static DataValue ValueOf(const Node& node, const VariableValue& v, TimestampsToReturn timestamps, int64_t now);

private:
    uint32_t Add(Node node);
    // Namespace 0 and the groups by numeric id; the variables by the model.
    int32_t IndexOfNumeric(uint16_t ns, uint32_t numeric) const;
    void Link(uint32_t source, uint32_t type, uint32_t target);
    void AddNamespaceZero();
    void AddGateway();
    Variant LiveVariant(LiveValue live) const;
    uint32_t Ns0(uint32_t id) const;

    ServerInfo info_;
    const Model& model_;
    std::vector<Node> nodes_;
    // Node index by (namespace << 32 | numeric id) for namespace 0 and the
    // groups; a variable's is firstVariable_ plus its index in the model.
    std::unordered_map<uint64_t, uint32_t> index_;
    uint32_t firstVariable_ = 0;
};

// The body of a ServerStatusDataType (864) at the given time.
std::string EncodeServerStatus(const ServerInfo& info, int64_t now);

} // namespace tagserve

#include "address_space.h"

#include "clock.h"

#include <algorithm>

namespace tagserve {

namespace {

const char* const kServerProfile = "http://opcfoundation.org/UA-Profile/Server/NanoEmbeddedDevice2017";

// One node of namespace 0: where it hangs (parent and reference), its type
// definition, and for variables and types the data type and value rank.
struct Row {
    uint32_t id;
    NodeClass nodeClass;
    const char* name;
    uint32_t parent;
    uint32_t reference;
    uint32_t typeDefinition = 0;
    uint32_t dataType = 0;
    int32_t valueRank = -1;
    bool isAbstract = false;
    const char* inverseName = "";
};

constexpr NodeClass O = NodeClass::Object, V = NodeClass::Variable, OT = NodeClass::ObjectType,
                    VT = NodeClass::VariableType, RT = NodeClass::ReferenceType, DT = NodeClass::DataType;
constexpr uint32_t Org = ref::Organizes, Comp = ref::HasComponent, Prop = ref::HasProperty, Sub = ref::HasSubtype;

const Row kNamespaceZero[] = {
    // Folders and the Server object.
    {84, O, "Root", 0, 0, 61},
    {85, O, "Objects", 84, Org, 61},
    {86, O, "Types", 84, Org, 61},
    {87, O, "Views", 84, Org, 61},
    {88, O, "ObjectTypes", 86, Org, 61},
    {89, O, "VariableTypes", 86, Org, 61},
    {90, O, "DataTypes", 86, Org, 61},
    {91, O, "ReferenceTypes", 86, Org, 61},
    {2253, O, "Server", 85, Org, 2004},
    {2268, O, "ServerCapabilities", 2253, Comp, 2013},
    {11704, O, "OperationLimits", 2268, Comp, 11564},
    // Variables of the Server object.
    {2254, V, "ServerArray", 2253, Prop, 68, 12, 1},
    {2255, V, "NamespaceArray", 2253, Prop, 68, 12, 1},
    {2256, V, "ServerStatus", 2253, Comp, 2138, 862},
    {2257, V, "StartTime", 2256, Comp, 63, 294},
    {2258, V, "CurrentTime", 2256, Comp, 63, 294},
    {2259, V, "State", 2256, Comp, 63, 852},
    {2260, V, "BuildInfo", 2256, Comp, 3051, 338},
    {2261, V, "ProductName", 2260, Comp, 63, 12},
    {2262, V, "ProductUri", 2260, Comp, 63, 12},
    {2263, V, "ManufacturerName", 2260, Comp, 63, 12},
    {2264, V, "SoftwareVersion", 2260, Comp, 63, 12},
    {2265, V, "BuildNumber", 2260, Comp, 63, 12},
    {2266, V, "BuildDate", 2260, Comp, 63, 294},
    {2992, V, "SecondsTillShutdown", 2256, Comp, 63, 7},
    {2993, V, "ShutdownReason", 2256, Comp, 63, 21},
    {2267, V, "ServiceLevel", 2253, Prop, 68, 3},
    {2994, V, "Auditing", 2253, Prop, 68, 1},
    {2269, V, "ServerProfileArray", 2268, Prop, 68, 12, 1},
    {2271, V, "LocaleIdArray", 2268, Prop, 68, 295, 1},
    {2272, V, "MinSupportedSampleRate", 2268, Prop, 68, 290},
    {2735, V, "MaxBrowseContinuationPoints", 2268, Prop, 68, 5},
    {2736, V, "MaxQueryContinuationPoints", 2268, Prop, 68, 5},
    {2737, V, "MaxHistoryContinuationPoints", 2268, Prop, 68, 5},
    {11702, V, "MaxArrayLength", 2268, Prop, 68, 7},
    {11703, V, "MaxStringLength", 2268, Prop, 68, 7},
    {11705, V, "MaxNodesPerRead", 11704, Prop, 68, 7},
    {11707, V, "MaxNodesPerWrite", 11704, Prop, 68, 7},
    {11710, V, "MaxNodesPerBrowse", 11704, Prop, 68, 7},
    {11711, V, "MaxNodesPerRegisterNodes", 11704, Prop, 68, 7},
    {11712, V, "MaxNodesPerTranslateBrowsePathsToNodeIds", 11704, Prop, 68, 7},
    {11714, V, "MaxMonitoredItemsPerCall", 11704, Prop, 68, 7},
    // Object types.
    {58, OT, "BaseObjectType", 88, Org},
    {61, OT, "FolderType", 58, Sub},
    {2004, OT, "ServerType", 58, Sub},
    {2013, OT, "ServerCapabilitiesType", 58, Sub},
    {11564, OT, "OperationLimitsType", 58, Sub},
    // Variable types.
    {62, VT, "BaseVariableType", 89, Org, 0, 24, -2, true},
    {63, VT, "BaseDataVariableType", 62, Sub, 0, 24, -2},
    {68, VT, "PropertyType", 62, Sub, 0, 24, -2},
    {2138, VT, "ServerStatusType", 63, Sub, 0, 862, -1},
    {3051, VT, "BuildInfoType", 63, Sub, 0, 338, -1},
    // Data types.
    {24, DT, "BaseDataType", 90, Org, 0, 0, -1, true},
    {1, DT, "Boolean", 24, Sub},
    {26, DT, "Number", 24, Sub, 0, 0, -1, true},
    {27, DT, "Integer", 26, Sub, 0, 0, -1, true},
    {6, DT, "Int32", 27, Sub},
    {28, DT, "UInteger", 26, Sub, 0, 0, -1, true},
    {7, DT, "UInt32", 28, Sub},
    {3, DT, "Byte", 28, Sub},
    {5, DT, "UInt16", 28, Sub},
    {11, DT, "Double", 26, Sub},
    {290, DT, "Duration", 11, Sub},
    {12, DT, "String", 24, Sub},
    {295, DT, "LocaleId", 12, Sub},
    {13, DT, "DateTime", 24, Sub},
    {294, DT, "UtcTime", 13, Sub},
    {15, DT, "ByteString", 24, Sub},
    {17, DT, "NodeId", 24, Sub},
    {19, DT, "StatusCode", 24, Sub},
    {20, DT, "QualifiedName", 24, Sub},
    {21, DT, "LocalizedText", 24, Sub},
    {22, DT, "Structure", 24, Sub, 0, 0, -1, true},
    {862, DT, "ServerStatusDataType", 22, Sub},
    {338, DT, "BuildInfo", 22, Sub},
    {29, DT, "Enumeration", 24, Sub, 0, 0, -1, true},
    {852, DT, "ServerState", 29, Sub},
    // Reference types.
    {31, RT, "References", 91, Org, 0, 0, -1, true},
    {33, RT, "HierarchicalReferences", 31, Sub, 0, 0, -1, true},
    {34, RT, "HasChild", 33, Sub, 0, 0, -1, true},
    {44, RT, "Aggregates", 34, Sub, 0, 0, -1, true},
    {46, RT, "HasProperty", 44, Sub, 0, 0, -1, false, "PropertyOf"},
    {47, RT, "HasComponent", 44, Sub, 0, 0, -1, false, "ComponentOf"},
    {45, RT, "HasSubtype", 34, Sub, 0, 0, -1, false, "SubtypeOf"},
    {35, RT, "Organizes", 33, Sub, 0, 0, -1, false, "OrganizedBy"},
    {32, RT, "NonHierarchicalReferences", 31, Sub, 0, 0, -1, true},
    {40, RT, "HasTypeDefinition", 32, Sub, 0, 0, -1, false, "TypeDefinitionOf"},
    {37, RT, "HasModellingRule", 32, Sub, 0, 0, -1, false, "ModellingRuleOf"},
};

void WriteBuildInfo(Writer& w, const ServerInfo& info)
{
    w.String(info.productUri);
    w.String(info.manufacturer);
    w.String(info.productName);
    w.String(info.softwareVersion);
    w.String("1");
    w.Int64(info.startTime);
}

ExtensionObject BuildInfoObject(const ServerInfo& info)
{
    Writer w;
    WriteBuildInfo(w, info);
    return {NodeId(0, msg::BuildInfo), 1, std::move(w.Bytes())};
}

Variant UInt32Value(uint32_t v) { return Variant::UInt32(v); }

} // namespace

std::string EncodeServerStatus(const ServerInfo& info, int64_t now)
{
    Writer w;
    w.Int64(info.startTime);
    w.Int64(now);
    w.Int32(0); // Running
    WriteBuildInfo(w, info);
    w.UInt32(0);
    w.WriteLocalizedText({});
    return std::move(w.Bytes());
}

const NodeExtras& Node::Extras() const
{
    static const NodeExtras none;
    return extras ? *extras : none;
}

AddressSpace::AddressSpace(const ServerInfo& info, const Model& model) : info_(info), model_(model)
{
    nodes_.reserve(std::size(kNamespaceZero) + model.Groups().size() + model.Variables().size());
    AddNamespaceZero();
    AddGateway();
    // A group's and a type's lists grew by doubling, one reference at a time.
    for (Node& node : nodes_)
        node.references.shrink_to_fit();
}

uint32_t AddressSpace::Add(Node node)
{
    auto index = static_cast<uint32_t>(nodes_.size());
    if (node.modelIndex < 0)
        index_.emplace(uint64_t{node.id.ns} << 32 | node.id.numeric, index);
    nodes_.push_back(std::move(node));
    return index;
}

int32_t AddressSpace::IndexOfNumeric(uint16_t ns, uint32_t numeric) const
{
    auto it = index_.find(uint64_t{ns} << 32 | numeric);
    if (it != index_.end())
        return static_cast<int32_t>(it->second);
    if (ns != 1 || numeric > static_cast<uint32_t>(INT32_MAX))
        return -1;
    const int32_t variable = model_.IndexOf(static_cast<int32_t>(numeric));
    return variable < 0 ? -1 : static_cast<int32_t>(firstVariable_) + variable;
}

void AddressSpace::Link(uint32_t source, uint32_t type, uint32_t target)
{
    nodes_[source].references.push_back({type, true, target});
    nodes_[target].references.push_back({type, false, source});
}

uint32_t AddressSpace::Ns0(uint32_t id) const { return index_.at(id); }

void AddressSpace::AddNamespaceZero()
{
    for (const Row& row : kNamespaceZero) {
        Node n;
        n.id = {0, row.id};
        n.nodeClass = row.nodeClass;
        n.extras = std::make_unique<NodeExtras>();
        n.extras->name = row.name;
        n.name = &n.extras->name;
        n.extras->isAbstract = row.isAbstract;
        n.extras->symmetric = row.id == ref::References;
        n.extras->inverseName = row.inverseName;
        n.typeDefinition = row.typeDefinition;
        n.dataType = row.dataType;
        n.valueRank = row.valueRank;
        Add(std::move(n));
    }
    // Links once every node exists; a row's parent may come later in the table.
    for (const Row& row : kNamespaceZero) {
        uint32_t self = Ns0(row.id);
        if (row.parent)
            Link(Ns0(row.parent), row.reference, self);
        if (row.typeDefinition)
            Link(self, ref::HasTypeDefinition, Ns0(row.typeDefinition));
    }
    auto set = [&](uint32_t id, Variant v) { nodes_[Ns0(id)].extras->value = std::move(v); };
    set(2254, Variant::StringArray({info_.applicationUri}));
    set(2255, Variant::StringArray({"http://opcfoundation.org/UA/", info_.namespaceUri}));
    nodes_[Ns0(2256)].extras->live = LiveValue::ServerStatus;
    set(2257, Variant::DateTime(info_.startTime));
    nodes_[Ns0(2258)].extras->live = LiveValue::CurrentTime;
    nodes_[Ns0(2259)].extras->live = LiveValue::State;
    set(2260, Variant::OfExtensionObject(BuildInfoObject(info_)));
    set(2261, Variant::String(info_.productName));
    set(2262, Variant::String(info_.productUri));
    set(2263, Variant::String(info_.manufacturer));
    set(2264, Variant::String(info_.softwareVersion));
    set(2265, Variant::String("1"));
    set(2266, Variant::DateTime(info_.startTime));
    set(2992, UInt32Value(0));
    set(2993, Variant::OfLocalizedText({}));
    set(2267, Variant::Byte(255));
    set(2994, Variant::Boolean(false));
    set(2269, Variant::StringArray({kServerProfile}));
    set(2271, Variant::StringArray({}));
    set(2272, Variant::Double(100));
    set(2735, Variant::UInt16(10));
    set(2736, Variant::UInt16(0));
    set(2737, Variant::UInt16(0));
    set(11702, UInt32Value(100000));
    set(11703, UInt32Value(65535));
    for (uint32_t id : {11705u, 11707u, 11710u, 11711u, 11712u, 11714u})
        set(id, UInt32Value(1000));
}

void AddressSpace::AddGateway()
{
    uint32_t objects = Ns0(85), folderType = Ns0(61), dataVariableType = Ns0(63);
    std::unordered_map<int32_t, uint32_t> groupNode;
    for (const ModelGroup& g : model_.Groups()) {
        Node n;
        n.id = {1, static_cast<uint32_t>(g.id)};
        n.name = &g.name;
        n.typeDefinition = 61;
        uint32_t index = Add(std::move(n));
        Link(objects, ref::Organizes, index);
        Link(index, ref::HasTypeDefinition, folderType);
        groupNode.emplace(g.id, index);
    }
    const auto& vars = model_.Variables();
    firstVariable_ = static_cast<uint32_t>(nodes_.size());
    for (size_t i = 0; i < vars.size(); ++i) {
        const ModelVariable& v = vars[i];
        Node n;
        n.id = {1, static_cast<uint32_t>(v.id)};
        n.nodeClass = NodeClass::Variable;
        n.name = &v.name;
        n.typeDefinition = 63;
        n.dataType = v.type == VarType::Boolean ? 1 : v.type == VarType::Int32 ? 6 : 11;
        n.accessLevel = v.writable ? (kAccessRead | kAccessWrite) : kAccessRead;
        n.modelIndex = static_cast<int32_t>(i);
        n.varType = v.type;
        uint32_t index = Add(std::move(n));
        Link(groupNode.at(v.group), ref::HasComponent, index);
        Link(index, ref::HasTypeDefinition, dataVariableType);
    }
}

const Node* AddressSpace::Find(const NodeId& id) const
{
    const int32_t index = IndexOf(id);
    return index < 0 ? nullptr : &nodes_[static_cast<size_t>(index)];
}

int32_t AddressSpace::IndexOf(const NodeId& id) const
{
    if (id.kind != NodeId::Kind::Numeric)
        return -1;
    return IndexOfNumeric(id.ns, id.numeric);
}

bool AddressSpace::IsReferenceType(const NodeId& id) const
{
    const Node* n = Find(id);
    return n && n->nodeClass == NodeClass::ReferenceType;
}

bool AddressSpace::IsSubtypeOf(uint32_t type, uint32_t base) const
{
    // Walk up the HasSubtype tree; reference types are a handful of levels deep.
    for (int guard = 0; guard < 16; ++guard) {
        if (type == base)
            return true;
        const Node* n = Find(NodeId(0, type));
        if (!n)
            return false;
        uint32_t parent = 0;
        for (const Reference& r : n->references)
            if (r.type == ref::HasSubtype && !r.forward)
                parent = nodes_[r.target].id.numeric;
        if (parent == 0)
            return false;
        type = parent;
    }
    return false;
}

bool AddressSpace::Follows(const Reference& ref, uint32_t direction, const NodeId& referenceType,
                           bool includeSubtypes) const
{
    if (direction == 0 && !ref.forward)
        return false;
    if (direction == 1 && ref.forward)
        return false;
    if (referenceType.IsNull())
        return true;
    // Every reference type of ours is a numeric node of namespace 0; an id of
    // another namespace or form names none of them, whatever its number.
    if (referenceType.ns != 0 || referenceType.kind != NodeId::Kind::Numeric)
        return false;
    uint32_t want = referenceType.numeric;
    return includeSubtypes ? IsSubtypeOf(ref.type, want) : ref.type == want;
}

PathTargets AddressSpace::Walk(const BrowsePath& path, size_t& visits) const
{
    PathTargets result;
    int32_t start = IndexOf(path.startingNode);
    if (start < 0)
        result.status = status::BadNodeIdUnknown;
    else if (path.elements.empty())
        result.status = status::BadNothingToDo;
    for (const RelativePathElement& e : path.elements)
        if (e.targetName.name.empty() && result.status == status::Good)
            result.status = status::BadBrowseNameInvalid;
    if (result.status != status::Good)
        return result;
    std::vector<uint32_t> current{static_cast<uint32_t>(start)};
    for (size_t e = 0; e < path.elements.size() && !current.empty(); ++e) {
        const RelativePathElement& element = path.elements[e];
        std::vector<uint32_t> next;
        for (uint32_t node : current) {
            const std::vector<Reference>& refs = nodes_[node].references;
            visits += refs.size();
            if (visits > kMaxTranslateVisits)
                return {status::BadTooManyOperations, {}};
            for (const Reference& ref : refs)
                if (nodes_[ref.target].HasBrowseName(element.targetName)
                    && Follows(ref, element.isInverse ? 1 : 0, element.referenceTypeId, element.includeSubtypes))
                    next.push_back(ref.target);
        }
        // A node reached over several references, or from several nodes, is one target.
        std::sort(next.begin(), next.end());
        next.erase(std::unique(next.begin(), next.end()), next.end());
        current.swap(next);
    }
    if (current.empty())
        result.status = status::BadNoMatch;
    result.nodes = std::move(current);
    return result;
}

Variant AddressSpace::LiveVariant(LiveValue live) const
{
    int64_t now = UaNow();
    switch (live) {
    case LiveValue::CurrentTime: return Variant::DateTime(now);
    case LiveValue::State: return Variant::Int32(0);
    case LiveValue::ServerStatus:
        return Variant::OfExtensionObject({NodeId(0, msg::ServerStatusDataType), 1, EncodeServerStatus(info_, now)});
    case LiveValue::None: break;
    }
    return {};
}

DataValue AddressSpace::ValueOf(const Node& node, const VariableValue& v, TimestampsToReturn timestamps, int64_t now)
{
    DataValue d;
    if (v.status != status::BadWaitingForInitialData) {
        d.mask |= DataValue::HasValue;
        switch (node.varType) {
        case VarType::Boolean: d.value = Variant::Boolean(v.i32 != 0); break;
        case VarType::Int32: d.value = Variant::Int32(v.i32); break;
        case VarType::Double: d.value = Variant::Double(v.dbl); break;
        }
    }
    if (v.status != status::Good) {
        d.mask |= DataValue::HasStatus;
        d.status = v.status;
    }
    bool source = timestamps == TimestampsToReturn::Source || timestamps == TimestampsToReturn::Both;
    bool server = timestamps == TimestampsToReturn::Server || timestamps == TimestampsToReturn::Both;
    if (source && v.sourceTime != 0) {
        d.mask |= DataValue::HasSourceTimestamp;
        d.sourceTimestamp = v.sourceTime;
    }
    if (server) {
        d.mask |= DataValue::HasServerTimestamp;
        d.serverTimestamp = v.serverTime != 0 ? v.serverTime : now;
    }
    return d;
}

DataValue AddressSpace::ReadAttribute(const Node& node, uint32_t attributeId, TimestampsToReturn timestamps) const
{
    DataValue d;
    d.mask = DataValue::HasValue;
    bool isType = node.nodeClass == NodeClass::ObjectType || node.nodeClass == NodeClass::VariableType
                  || node.nodeClass == NodeClass::DataType || node.nodeClass == NodeClass::ReferenceType;
    bool isVariable = node.nodeClass == NodeClass::Variable;
    bool hasDataType = isVariable || node.nodeClass == NodeClass::VariableType;
    switch (attributeId) {
    case attr::NodeId: d.value = Variant::OfNodeId(node.id); return d;
    case attr::NodeClass: d.value = Variant::Int32(static_cast<int32_t>(node.nodeClass)); return d;
    case attr::BrowseName: d.value = Variant::OfQualifiedName(node.BrowseName()); return d;
    case attr::DisplayName: d.value = Variant::OfLocalizedText(LocalizedText::Of(*node.name)); return d;
    case attr::Description: d.value = Variant::OfLocalizedText({}); return d;
    case attr::WriteMask:
    case attr::UserWriteMask: d.value = Variant::UInt32(0); return d;
    case attr::IsAbstract:
        if (!isType)
            break;
        d.value = Variant::Boolean(node.Extras().isAbstract);
        return d;
    case attr::Symmetric:
        if (node.nodeClass != NodeClass::ReferenceType)
            break;
        d.value = Variant::Boolean(node.Extras().symmetric);
        return d;
    case attr::InverseName:
        if (node.nodeClass != NodeClass::ReferenceType || *node.Extras().inverseName == '\0')
            break;
        d.value = Variant::OfLocalizedText(LocalizedText::Of(node.Extras().inverseName));
        return d;
    case attr::EventNotifier:
        if (node.nodeClass != NodeClass::Object)
            break;
        d.value = Variant::Byte(0);
        return d;
    case attr::Value:
        if (!isVariable)
            break;
        if (node.modelIndex >= 0)
            return ValueOf(node, model_.Snapshot(static_cast<uint32_t>(node.modelIndex)), timestamps, UaNow());
        d.value = node.Extras().live != LiveValue::None ? LiveVariant(node.Extras().live) : node.Extras().value;
        if (timestamps != TimestampsToReturn::Neither) {
            int64_t now = UaNow();
            if (timestamps != TimestampsToReturn::Server) {
                d.mask |= DataValue::HasSourceTimestamp;
                d.sourceTimestamp = now;
            }
            if (timestamps != TimestampsToReturn::Source) {
                d.mask |= DataValue::HasServerTimestamp;
                d.serverTimestamp = now;
            }
        }
        return d;
    case attr::DataType:
        if (!hasDataType)
            break;
        d.value = Variant::OfNodeId(NodeId(0, node.dataType));
        return d;
    case attr::ValueRank:
        if (!hasDataType)
            break;
        d.value = Variant::Int32(node.valueRank);
        return d;
    case attr::ArrayDimensions:
        if (!hasDataType)
            break;
        d.value = Variant::NullArray(type::UInt32);
        if (node.valueRank == 1) {
            d.value.arrayNull = false;
            d.value.values.emplace_back(uint64_t{0});
        }
        return d;
    case attr::AccessLevel:
    case attr::UserAccessLevel:
        if (!isVariable)
            break;
        d.value = Variant::Byte(node.accessLevel);
        return d;
    case attr::MinimumSamplingInterval:
        if (!isVariable)
            break;
        d.value = Variant::Double(node.MinimumSamplingInterval());
        return d;
    case attr::Historizing:
        if (!isVariable)
            break;
        d.value = Variant::Boolean(false);
        return d;
    default: break;
    }
    DataValue bad;
    bad.mask = DataValue::HasStatus;
    bad.status = status::BadAttributeIdInvalid;
    return bad;
}

} // namespace tagserve

#include "fixtures.h"
#include "harness.h"

#include "tagserve/envelope.h"

#include <gtest/gtest.h>

#include <map>

namespace tagserve {
namespace {

using test::Harness;
using test::Response;

struct BrowseRef {
    uint32_t referenceType;
    bool forward;
    NodeId target;
    std::string name;
    int32_t nodeClass;
    NodeId typeDefinition;
};

struct BrowseResult {
    uint32_t status;
    std::string continuationPoint;
    std::vector<BrowseRef> refs;
};

std::vector<BrowseResult> ReadBrowseResults(Reader r)
{
    std::vector<BrowseResult> results(static_cast<size_t>(r.ArrayLength()));
    for (auto& res : results) {
        res.status = r.UInt32();
        res.continuationPoint = r.ByteString();
        res.refs.resize(static_cast<size_t>(r.ArrayLength()));
        for (auto& ref : res.refs) {
            ref.referenceType = r.ReadNodeId().numeric;
            ref.forward = r.Boolean();
            ref.target = r.ReadExpandedNodeId().id;
            ref.name = r.ReadQualifiedName().name;
            r.ReadLocalizedText();
            ref.nodeClass = r.Int32();
            ref.typeDefinition = r.ReadExpandedNodeId().id;
        }
    }
    return results;
}

std::vector<BrowseResult> Browse(Harness& h, NodeId node, uint32_t direction = 0, uint32_t referenceType = 33,
                                 uint32_t nodeClassMask = 0, uint32_t resultMask = 63, uint32_t max = 0,
                                 uint32_t* serviceResult = nullptr)
{
    Response r = h.Call(msg::BrowseRequest, [&](Writer& w) {
        w.WriteNodeId(NodeId());
        w.Int64(0);
        w.UInt32(0);
        w.UInt32(max);
        w.Int32(1);
        w.WriteNodeId(node);
        w.UInt32(direction);
        w.WriteNodeId(NodeId(0, referenceType));
        w.Boolean(true);
        w.UInt32(nodeClassMask);
        w.UInt32(resultMask);
    });
    if (serviceResult)
        *serviceResult = r.serviceResult;
    return r.serviceResult == status::Good ? ReadBrowseResults(r.Body()) : std::vector<BrowseResult>{};
}

std::vector<DataValue> Read(Harness& h, const std::vector<std::pair<NodeId, uint32_t>>& items, uint32_t timestamps = 2)
{
    Response r = h.Call(msg::ReadRequest, [&](Writer& w) {
        w.Double(0);
        w.UInt32(timestamps);
        w.Int32(static_cast<int32_t>(items.size()));
        for (const auto& [node, attribute] : items) {
            w.WriteNodeId(node);
            w.UInt32(attribute);
            w.NullString();
            w.WriteQualifiedName({});
        }
    });
    EXPECT_EQ(r.serviceResult, status::Good);
    Reader b = r.Body();
    std::vector<DataValue> out(static_cast<size_t>(b.ArrayLength()));
    for (auto& d : out)
        d = b.ReadDataValue();
    return out;
}

std::vector<uint32_t> Write(Harness& h, NodeId node, const DataValue& value, uint32_t attribute = attr::Value,
                            bool indexRange = false)
{
    Response r = h.Call(msg::WriteRequest, [&](Writer& w) {
        w.Int32(1);
        w.WriteNodeId(node);
        w.UInt32(attribute);
        if (indexRange)
            w.String("0");
        else
            w.NullString();
        w.WriteDataValue(value);
    });
    EXPECT_EQ(r.serviceResult, status::Good);
    return r.Body().UInt32Array();
}

DataValue Valued(Variant v)
{
    DataValue d;
    d.mask = DataValue::HasValue;
    d.value = std::move(v);
    return d;
}

TEST(Services, BrowseFiltersByDirectionReferenceTypeClassAndMask)
{
    Harness h;
    h.OpenSession();
    auto objects = Browse(h, NodeId(0, 85));
    ASSERT_EQ(objects.size(), 1u);
    std::map<std::string, BrowseRef> byName;
    for (const auto& ref : objects[0].refs)
        byName[ref.name] = ref;
    ASSERT_TRUE(byName.count("Server") && byName.count("Station_1") && byName.count("lifebit"));
    EXPECT_EQ(byName["Station_1"].target, NodeId(1, 80001));
    EXPECT_EQ(byName["Station_1"].typeDefinition, NodeId(0, 61));
    EXPECT_EQ(byName["Station_1"].referenceType, ref::Organizes);
    EXPECT_EQ(byName.count("FolderType"), 0u); // HasTypeDefinition is not hierarchical

    // Variables only, from the group, forward HasComponent.
    auto vars = Browse(h, NodeId(1, 80001), 0, ref::HasComponent, 2);
    ASSERT_EQ(vars[0].refs.size(), 4u);
    EXPECT_EQ(vars[0].refs[0].name, "Connected");
    EXPECT_EQ(vars[0].refs[3].target, NodeId(1, 4));
    EXPECT_EQ(vars[0].refs[0].typeDefinition, NodeId(0, 63));

    // Inverse from a variable reaches its group; unrequested fields are empty.
    auto up = Browse(h, NodeId(1, 3), 1, 0, 0, 0x08);
    ASSERT_EQ(up[0].refs.size(), 1u);
    EXPECT_EQ(up[0].refs[0].name, "Station_1");
    EXPECT_EQ(up[0].refs[0].referenceType, 0u);
    EXPECT_EQ(up[0].refs[0].nodeClass, 0);

    // Subtypes of References reach HasSubtype children of BaseDataType.
    auto types = Browse(h, NodeId(0, 24), 0, ref::HasSubtype);
    EXPECT_GE(types[0].refs.size(), 10u);

    struct Bad {
        NodeId node;
        uint32_t direction, referenceType, status;
    };
    for (const Bad& b : {Bad{NodeId(1, 999), 0, 33, status::BadNodeIdUnknown},
                         Bad{NodeId(0, 85), 3, 33, status::BadBrowseDirectionInvalid},
                         Bad{NodeId(0, 85), 0, 85, status::BadReferenceTypeIdInvalid}}) {
        auto r = Browse(h, b.node, b.direction, b.referenceType);
        EXPECT_EQ(r[0].status, b.status);
    }
}

TEST(Services, BrowseContinuationPointsPageReleaseAndRefuseUnknown)
{
    Harness h;
    h.OpenSession();
    auto page = Browse(h, NodeId(1, 80001), 0, ref::HasComponent, 0, 63, 3);
    ASSERT_EQ(page[0].refs.size(), 3u);
    ASSERT_FALSE(page[0].continuationPoint.empty());
    auto next = [&](bool release, const std::string& cp) {
        Response r = h.Call(msg::BrowseNextRequest, [&](Writer& w) {
            w.Boolean(release);
            w.Int32(1);
            w.ByteString(cp);
        });
        return ReadBrowseResults(r.Body());
    };
    auto rest = next(false, page[0].continuationPoint);
    ASSERT_EQ(rest[0].refs.size(), 1u);
    EXPECT_EQ(rest[0].refs[0].name, "m1");
    EXPECT_TRUE(rest[0].continuationPoint.empty());
    EXPECT_EQ(next(false, page[0].continuationPoint)[0].status, status::BadContinuationPointInvalid);

    auto again = Browse(h, NodeId(1, 80001), 0, ref::HasComponent, 0, 63, 1);
    auto released = next(true, again[0].continuationPoint);
    EXPECT_EQ(released[0].status, status::Good);
    EXPECT_TRUE(released[0].refs.empty());

    // At most ten open continuation points per session.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Browse(h, NodeId(1, 80001), 0, ref::HasComponent, 0, 63, 1)[0].status, status::Good);
    EXPECT_EQ(Browse(h, NodeId(1, 80001), 0, ref::HasComponent, 0, 63, 1)[0].status, status::BadNoContinuationPoints);
}

TEST(Services, TranslateBrowsePathsMatchesAndFails)
{
    Harness h;
    h.OpenSession();
    auto translate = [&](NodeId start, std::vector<QualifiedName> names, NodeId referenceType = NodeId(0, 33)) {
        Response r = h.Call(msg::TranslateBrowsePathsRequest, [&](Writer& w) {
            w.Int32(1);
            w.WriteNodeId(start);
            w.Int32(static_cast<int32_t>(names.size()));
            for (const auto& n : names) {
                w.WriteNodeId(referenceType);
                w.Boolean(false);
                w.Boolean(true);
                w.WriteQualifiedName(n);
            }
        });
        Reader b = r.Body();
        b.ArrayLength();
        uint32_t st = b.UInt32();
        std::vector<NodeId> targets(static_cast<size_t>(b.ArrayLength()));
        for (auto& t : targets) {
            t = b.ReadExpandedNodeId().id;
            EXPECT_EQ(b.UInt32(), 0xFFFFFFFFu);
        }
        return std::make_pair(st, targets);
    };
    auto ok = translate(NodeId(0, 85), {{1, "Station_1"}, {1, "p_int"}});
    EXPECT_EQ(ok.first, status::Good);
    ASSERT_EQ(ok.second.size(), 1u);
    EXPECT_EQ(ok.second[0], NodeId(1, 3));
    EXPECT_EQ(translate(NodeId(0, 85), {{0, "Station_1"}}).first, status::BadNoMatch); // wrong namespace
    // The reference type is named by its whole id: the number 33 in another namespace is not it.
    EXPECT_EQ(translate(NodeId(0, 85), {{1, "Station_1"}}, NodeId(1, 33)).first, status::BadNoMatch);
    EXPECT_EQ(translate(NodeId(0, 85), {{1, "Station_1"}}, NodeId()).first, status::Good); // any reference
    EXPECT_EQ(translate(NodeId(0, 85), {{1, ""}}).first, status::BadBrowseNameInvalid);
    EXPECT_EQ(translate(NodeId(0, 85), {}).first, status::BadNothingToDo);
    EXPECT_EQ(translate(NodeId(7, 7), {{1, "x"}}).first, status::BadNodeIdUnknown);
}

TEST(Services, RegisterAndUnregisterNodesCheckTheirCount)
{
    Harness h;
    h.OpenSession();
    auto nodes = [](const std::vector<NodeId>& ids) {
        return [ids](Writer& w) {
            w.Int32(static_cast<int32_t>(ids.size()));
            for (const NodeId& id : ids)
                w.WriteNodeId(id);
        };
    };
    Response registered = h.Call(msg::RegisterNodesRequest, nodes({NodeId(1, 3), NodeId(1, 4)}));
    Reader b = registered.Body();
    ASSERT_EQ(b.ArrayLength(), 2);
    EXPECT_EQ(b.ReadNodeId(), NodeId(1, 3));
    EXPECT_EQ(b.ReadNodeId(), NodeId(1, 4));
    EXPECT_EQ(h.Call(msg::UnregisterNodesRequest, nodes({NodeId(1, 3)})).serviceResult, status::Good);
    for (uint32_t type : {msg::RegisterNodesRequest, msg::UnregisterNodesRequest}) {
        EXPECT_EQ(h.Call(type, nodes({})).serviceResult, status::BadNothingToDo) << type;
        EXPECT_EQ(h.Call(type, nodes(std::vector<NodeId>(1001, NodeId(1, 3)))).serviceResult,
                  status::BadTooManyOperations)
            << type;
    }
}

// Every station group holds a variable "Connected", so paths that go back and
// forth between those variables and their common type definition reach the
// same nodes over and over.
struct PathElement {
    uint32_t referenceType;
    bool inverse;
    QualifiedName target;
};

std::vector<std::pair<uint32_t, std::vector<NodeId>>>
TranslatePaths(Harness& h, const std::vector<std::pair<NodeId, std::vector<PathElement>>>& paths)
{
    Response r = h.Call(msg::TranslateBrowsePathsRequest, [&](Writer& w) {
        w.Int32(static_cast<int32_t>(paths.size()));
        for (const auto& [start, elements] : paths) {
            w.WriteNodeId(start);
            w.Int32(static_cast<int32_t>(elements.size()));
            for (const auto& e : elements) {
                w.WriteNodeId(NodeId(0, e.referenceType));
                w.Boolean(e.inverse);
                w.Boolean(false);
                w.WriteQualifiedName(e.target);
            }
        }
    });
    EXPECT_EQ(r.serviceResult, status::Good);
    Reader b = r.Body();
    std::vector<std::pair<uint32_t, std::vector<NodeId>>> out(static_cast<size_t>(b.ArrayLength()));
    for (auto& [st, targets] : out) {
        st = b.UInt32();
        targets.resize(static_cast<size_t>(b.ArrayLength()));
        for (auto& t : targets) {
            t = b.ReadExpandedNodeId().id;
            b.UInt32();
        }
    }
    return out;
}

std::function<void(Model&)> Stations(int count)
{
    return [count](Model& m) {
        m.Reset(count, count);
        for (int i = 1; i <= count; ++i) {
            m.AddGroup(80000 + i, "Station_" + std::to_string(i));
            m.AddVariable(i, 0, 80000 + i, false, "Connected");
        }
    };
}

const PathElement toConnected{40, true, {1, "Connected"}};
const PathElement toType{40, false, {0, "BaseDataVariableType"}};
const NodeId baseDataVariableType(0, 63);

TEST(Services, TranslateBrowsePathsReachEachTargetOnce)
{
    Harness h({}, true, Stations(3));
    h.OpenSession();
    auto r = TranslatePaths(h, {{baseDataVariableType, {toConnected, toType, toConnected}}});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].first, status::Good);
    EXPECT_EQ(r[0].second, (std::vector<NodeId>{NodeId(1, 1), NodeId(1, 2), NodeId(1, 3)}));
}

TEST(Services, TranslateBrowsePathsStayWithinABudget)
{
    // A long back-and-forth path over many stations: answered at once, the
    // path that exhausts the request's work refused, the ordinary one served.
    Harness big({}, true, Stations(1000));
    big.OpenSession();
    std::vector<PathElement> hostile;
    for (int i = 0; i < 10000; ++i) {
        hostile.push_back(toConnected);
        hostile.push_back(toType);
    }
    auto r = TranslatePaths(big, {{NodeId(0, 85), {{35, false, {1, "Station_7"}}, {47, false, {1, "Connected"}}}},
                                  {baseDataVariableType, hostile}});
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].first, status::Good);
    EXPECT_EQ(r[0].second, std::vector<NodeId>{NodeId(1, 7)});
    EXPECT_EQ(r[1].first, status::BadTooManyOperations);
    EXPECT_TRUE(r[1].second.empty());
}

TEST(Services, ReadAttributesByNodeClass)
{
    Harness h;
    h.OpenSession();
    h.model.SetValue(10, 4, 0, 12.5, 0, 133000000000000000, 0);
    h.model.SetValue(0, 1, 1, 0, status::Bad, 133000000000000001, 133000000000000002);
    struct Case {
        NodeId node;
        uint32_t attribute;
        uint32_t status;   // expected status (0 = value present)
        uint8_t valueType; // built-in type of the value when Good
    };
    const Case cases[] = {
        {NodeId(1, 4), attr::NodeClass, 0, type::Int32},
        {NodeId(1, 4), attr::BrowseName, 0, type::QualifiedName},
        {NodeId(1, 4), attr::DataType, 0, type::NodeId},
        {NodeId(1, 4), attr::ValueRank, 0, type::Int32},
        {NodeId(1, 4), attr::ArrayDimensions, 0, type::UInt32},
        {NodeId(1, 4), attr::AccessLevel, 0, type::Byte},
        {NodeId(1, 4), attr::MinimumSamplingInterval, 0, type::Double},
        {NodeId(1, 4), attr::Historizing, 0, type::Boolean},
        {NodeId(1, 4), attr::IsAbstract, status::BadAttributeIdInvalid, 0},
        {NodeId(1, 4), attr::EventNotifier, status::BadAttributeIdInvalid, 0},
        {NodeId(1, 80001), attr::EventNotifier, 0, type::Byte},
        {NodeId(1, 80001), attr::Value, status::BadAttributeIdInvalid, 0},
        {NodeId(0, 6), attr::IsAbstract, 0, type::Boolean},
        {NodeId(0, 6), attr::DisplayName, 0, type::LocalizedText},
        {NodeId(0, 46), attr::InverseName, 0, type::LocalizedText},
        {NodeId(0, 33), attr::InverseName, status::BadAttributeIdInvalid, 0},
        {NodeId(0, 31), attr::Symmetric, 0, type::Boolean},
        {NodeId(0, 2255), attr::Value, 0, type::String},
        {NodeId(0, 2256), attr::Value, 0, type::ExtensionObject},
        {NodeId(0, 2258), attr::Value, 0, type::DateTime},
        {NodeId(0, 11705), attr::Value, 0, type::UInt32},
        {NodeId(0, 62), attr::DataType, 0, type::NodeId},
        {NodeId(0, 85), 27, status::BadAttributeIdInvalid, 0},
        {NodeId(9, 9), attr::Value, status::BadNodeIdUnknown, 0},
    };
    std::vector<std::pair<NodeId, uint32_t>> items;
    for (const auto& c : cases)
        items.emplace_back(c.node, c.attribute);
    auto values = Read(h, items);
    ASSERT_EQ(values.size(), std::size(cases));
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(values[i].status, cases[i].status);
        if (cases[i].status == 0) {
            EXPECT_EQ(values[i].value.type, cases[i].valueType);
        }
    }

    // Values of gateway variables: the pushed value, status and times.
    auto gw = Read(h, {{NodeId(1, 4), attr::Value}, {NodeId(1, 1), attr::Value}, {NodeId(1, 3), attr::Value}});
    EXPECT_EQ(std::get<double>(gw[0].value.values[0]), 12.5);
    EXPECT_EQ(gw[0].sourceTimestamp, 133000000000000000);
    EXPECT_NE(gw[0].serverTimestamp, 0); // pushed as 0: the server's own time
    EXPECT_EQ(gw[1].status, status::Bad);
    EXPECT_EQ(gw[1].serverTimestamp, 133000000000000002);
    EXPECT_EQ(gw[2].status, status::BadWaitingForInitialData);
    EXPECT_FALSE(gw[2].mask & DataValue::HasValue);
    // TimestampsToReturn Neither and Source.
    auto neither = Read(h, {{NodeId(1, 4), attr::Value}}, 3);
    EXPECT_EQ(neither[0].mask, DataValue::HasValue);
    auto source = Read(h, {{NodeId(1, 4), attr::Value}}, 0);
    EXPECT_EQ(source[0].mask, DataValue::HasValue | DataValue::HasSourceTimestamp);
}

TEST(Services, ReadServiceFaults)
{
    Harness h;
    h.OpenSession();
    auto fault = [&](double maxAge, uint32_t timestamps, int32_t count) {
        return h
            .Call(msg::ReadRequest,
                  [&](Writer& w) {
                      w.Double(maxAge);
                      w.UInt32(timestamps);
                      w.Int32(count);
                      for (int32_t i = 0; i < count; ++i) {
                          w.WriteNodeId(NodeId(0, 85));
                          w.UInt32(1);
                          w.NullString();
                          w.WriteQualifiedName({});
                      }
                  })
            .serviceResult;
    };
    EXPECT_EQ(fault(-1, 0, 1), status::BadMaxAgeInvalid);
    EXPECT_EQ(fault(0, 4, 1), status::BadTimestampsToReturnInvalid);
    EXPECT_EQ(fault(0, 0, 0), status::BadNothingToDo);
    EXPECT_EQ(fault(0, 0, 1001), status::BadTooManyOperations);
}

TEST(Services, WriteStoresAllSlotsCallsBackAndRefuses)
{
    Harness h;
    h.OpenSession();
    EXPECT_EQ(Write(h, NodeId(1, 2), Valued(Variant::Boolean(true))), std::vector<uint32_t>{status::Good});
    WriteSlots b = h.model.Written(2);
    EXPECT_EQ(b.i32, 1);
    EXPECT_EQ(b.dbl, 1.0);
    EXPECT_TRUE(b.b);
    EXPECT_EQ(Write(h, NodeId(1, 3), Valued(Variant::Int32(-7))), std::vector<uint32_t>{status::Good});
    WriteSlots i = h.model.Written(3);
    EXPECT_EQ(i.i32, -7);
    EXPECT_EQ(i.dbl, -7.0);
    EXPECT_TRUE(i.b);
    EXPECT_EQ(test::writtenIds, (std::vector<int32_t>{2, 3}));
    // A write does not change the value: it comes back from the field through a push.
    EXPECT_EQ(Read(h, {{NodeId(1, 3), attr::Value}})[0].status, status::BadWaitingForInitialData);

    DataValue stamped = Valued(Variant::Int32(1));
    stamped.mask |= DataValue::HasSourceTimestamp;
    Variant array = Variant::Int32(1);
    array.isArray = true;
    struct Case {
        NodeId node;
        DataValue value;
        uint32_t attribute;
        bool indexRange;
        uint32_t status;
    };
    const Case cases[] = {
        {NodeId(1, 99), Valued(Variant::Int32(1)), attr::Value, false, status::BadNodeIdUnknown},
        {NodeId(1, 3), Valued(Variant::Int32(1)), attr::DisplayName, false, status::BadNotWritable},
        {NodeId(1, 3), Valued(Variant::Int32(1)), 0, false, status::BadAttributeIdInvalid},
        {NodeId(1, 3), Valued(Variant::Int32(1)), attr::Last + 1, false, status::BadAttributeIdInvalid},
        {NodeId(1, 3), Valued(Variant::Int32(1)), 0xFFFFFFFFu, false, status::BadAttributeIdInvalid},
        {NodeId(1, 80001), Valued(Variant::Int32(1)), attr::Value, false, status::BadNotWritable},
        {NodeId(1, 1), Valued(Variant::Boolean(true)), attr::Value, false, status::BadNotWritable},
        {NodeId(1, 4), Valued(Variant::Double(1)), attr::Value, false, status::BadNotWritable},
        {NodeId(0, 2267), Valued(Variant::Byte(1)), attr::Value, false, status::BadNotWritable},
        {NodeId(1, 3), Valued(Variant::Int32(1)), attr::Value, true, status::BadIndexRangeInvalid},
        {NodeId(1, 3), stamped, attr::Value, false, status::BadWriteNotSupported},
        {NodeId(1, 3), Valued(Variant::Double(2.5)), attr::Value, false, status::BadTypeMismatch},
        {NodeId(1, 2), Valued(Variant::Int32(1)), attr::Value, false, status::BadTypeMismatch},
        {NodeId(1, 3), Valued(array), attr::Value, false, status::BadTypeMismatch},
        {NodeId(1, 3), Valued(Variant()), attr::Value, false, status::BadTypeMismatch},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Write(h, c.node, c.value, c.attribute, c.indexRange), std::vector<uint32_t>{c.status})
            << c.node.numeric << " " << c.status;
    EXPECT_EQ(test::writtenIds.size(), 2u);

    // Without a callback the gateway cannot take commands: every variable is read-only.
    Harness noCallback({}, false);
    noCallback.OpenSession();
    EXPECT_EQ(Write(noCallback, NodeId(1, 2), Valued(Variant::Boolean(true))),
              std::vector<uint32_t>{status::BadNotWritable});
}

TEST(Services, SessionChecksAndUnknownServices)
{
    Harness h;
    // Before any session.
    auto before = h.Send(msg::ReadRequest, [](Writer& w) {
        w.Double(0);
        w.UInt32(0);
        w.Int32(0);
    });
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].type, msg::ServiceFault);
    EXPECT_EQ(before[0].serviceResult, status::BadSessionIdInvalid);

    h.OpenSession();
    auto unknown = h.Send(msg::ServiceFault + 10000, [](Writer&) {});
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(unknown[0].serviceResult, status::BadServiceUnsupported);
    for (uint32_t unsupported : {479u, 488u, 712u, 841u, 664u})
        EXPECT_EQ(h.Call(unsupported, [](Writer&) {}).serviceResult, status::BadServiceUnsupported);
    // The request handle is echoed in the fault.
    uint32_t handle = unknown[0].requestHandle;
    EXPECT_EQ(h.Call(479, [](Writer&) {}).requestHandle, handle + 6);

    // A body that breaks off after the header is a fault, not a closed channel.
    auto broken = h.Send(msg::ReadRequest, [](Writer& w) { w.Double(0); });
    EXPECT_EQ(broken[0].serviceResult, status::BadDecodingError);
    EXPECT_FALSE(h.channel->Closed());

    // Closing, then using the old token.
    EXPECT_EQ(h.Call(msg::CloseSessionRequest, [](Writer& w) { w.Boolean(true); }).serviceResult, status::Good);
    EXPECT_EQ(h.Call(msg::ReadRequest,
                     [](Writer& w) {
                         w.Double(0);
                         w.UInt32(0);
                         w.Int32(0);
                     })
                  .serviceResult,
              status::BadSessionIdInvalid);
}

TEST(Services, SessionsThatNeverLogInDoNotLockOutTheOperator)
{
    Harness h(Credentials{true, false, "op", "secret"});
    // Someone without the password fills every session slot, each with the longest timeout.
    std::vector<NodeId> strangers;
    for (size_t i = 0; i < kMaxSessions; ++i) {
        Response r = h.Call(msg::CreateSessionRequest, [](Writer& w) { test::WriteCreateSessionBody(w, "", 1e9); });
        ASSERT_EQ(r.serviceResult, status::Good);
        Reader b = r.Body();
        b.ReadNodeId();
        strangers.push_back(b.ReadNodeId());
    }
    h.OpenSession(); // the operator still gets in
    EXPECT_EQ(h.services->SessionCount(), kMaxSessions);
    // The oldest stranger's session gave way; the newest is still there.
    EXPECT_EQ(h.Send(
                   msg::ActivateSessionRequest,
                   [](Writer& w) { test::WriteActivateSessionBody(w, test::UserNameToken("op", "secret")); },
                   strangers.front())[0]
                  .serviceResult,
              status::BadSessionIdInvalid);
    EXPECT_EQ(h.Send(
                   msg::ActivateSessionRequest,
                   [](Writer& w) { test::WriteActivateSessionBody(w, test::UserNameToken("op", "secret")); },
                   strangers.back())[0]
                  .serviceResult,
              status::Good);
    // Once every slot holds a logged-in session, a further one is refused.
    for (size_t i = 2; i < kMaxSessions; ++i) {
        Response r = h.Call(msg::CreateSessionRequest, [](Writer& w) { test::WriteCreateSessionBody(w); });
        ASSERT_EQ(r.serviceResult, status::Good);
        Reader b = r.Body();
        b.ReadNodeId();
        h.token = b.ReadNodeId();
        ASSERT_EQ(h.Activate(test::UserNameToken("op", "secret")), status::Good);
    }
    EXPECT_EQ(h.Call(msg::CreateSessionRequest, [](Writer& w) { test::WriteCreateSessionBody(w); }).serviceResult,
              status::BadTooManySessions);
}

TEST(Services, AClientThatDoesNotReadIsNotAnsweredWithoutBound)
{
    Harness h;
    h.OpenSession();
    // 300 requests of 1000 reads each, sent in one go, none of the answers taken.
    Writer read;
    read.WriteNodeId(NodeId(0, msg::ReadRequest));
    test::WriteRequestHeader(read, h.token, 7);
    read.Double(0);
    read.UInt32(0);
    read.Int32(1000);
    for (int i = 0; i < 1000; ++i) {
        read.WriteNodeId(NodeId(0, 2255));
        read.UInt32(attr::Value);
        read.NullString();
        read.WriteQualifiedName({});
    }
    std::string stream;
    for (int k = 0; k < 300; ++k)
        stream += h.Chunks(read.Bytes());
    h.channel->Receive(stream.data(), stream.size(), test::fakeNowMs);
    for (int turn = 0; turn < 300 && h.channel->HasUnreadInput(); ++turn)
        h.channel->Receive(nullptr, 0, test::fakeNowMs);
    EXPECT_LT(h.channel->Output().size(), kMaxPendingOutput + 200000);
    size_t answered = h.Collect().size();
    EXPECT_LT(answered, 300u);
    // The rest is answered as the client takes what waits for it.
    for (int turn = 0; turn < 300 && h.channel->HasUnreadInput(); ++turn) {
        h.channel->Receive(nullptr, 0, test::fakeNowMs);
        answered += h.Collect().size();
    }
    EXPECT_EQ(answered, 300u);
    EXPECT_FALSE(h.channel->Closed());
}

TEST(Services, SessionExpiresAfterItsTimeout)
{
    Harness h;
    h.OpenSession();
    EXPECT_EQ(h.services->SessionCount(), 1u);
    test::fakeNowMs += 59000;
    h.services->Tick(test::fakeNowMs);
    EXPECT_EQ(h.services->SessionCount(), 1u);
    test::fakeNowMs += 2000;
    h.services->Tick(test::fakeNowMs);
    EXPECT_EQ(h.services->SessionCount(), 0u);
}

TEST(Services, IdentityChecks)
{
    Credentials pwd{true, false, "op", "secret"};
    Credentials refused{true, true, "", ""};
    Credentials anon{};
    struct Case {
        const char* name;
        Credentials credentials;
        ExtensionObject token;
        uint32_t status;
    };
    const Case cases[] = {
        {"anonymous", anon, test::AnonymousToken(), status::Good},
        {"null token", anon, ExtensionObject{}, status::Good},
        {"user name on anonymous endpoint", anon, test::UserNameToken("op", "secret"), status::BadIdentityTokenInvalid},
        {"right password", pwd, test::UserNameToken("op", "secret"), status::Good},
        {"wrong password", pwd, test::UserNameToken("op", "secreT"), status::BadUserAccessDenied},
        {"password prefix", pwd, test::UserNameToken("op", "secre"), status::BadUserAccessDenied},
        {"wrong user", pwd, test::UserNameToken("oq", "secret"), status::BadUserAccessDenied},
        {"anonymous in password mode", pwd, test::AnonymousToken(), status::BadIdentityTokenInvalid},
        {"policy not offered", pwd, test::UserNameToken("op", "secret", "other"), status::BadIdentityTokenInvalid},
        {"credentials too long", refused, test::UserNameToken("", ""), status::BadUserAccessDenied},
        {"unknown token type", anon, ExtensionObject{NodeId(0, 327), 1, std::string(4, '\xff')},
         status::BadIdentityTokenInvalid},
    };
    for (const auto& c : cases) {
        Harness h(c.credentials);
        Response r = h.Call(msg::CreateSessionRequest, [](Writer& w) { test::WriteCreateSessionBody(w); });
        Reader b = r.Body();
        b.ReadNodeId();
        h.token = b.ReadNodeId();
        EXPECT_EQ(h.Activate(c.token), c.status) << c.name;
    }
    Harness encrypted(pwd);
    Writer w;
    w.String("username");
    w.String("op");
    w.ByteString("secret");
    w.String("http://www.w3.org/2001/04/xmlenc#rsa-oaep");
    EXPECT_EQ(CheckIdentity(pwd, ParseIdentityToken({NodeId(0, 324), 1, w.Bytes()})), status::BadIdentityTokenInvalid);
}

TEST(Services, EndpointsEchoTheClientUrl)
{
    Harness h;
    Response r = h.Call(msg::GetEndpointsRequest, [](Writer& w) {
        w.String("opc.tcp://localhost:49999");
        w.EmptyArray();
        w.EmptyArray();
    });
    Reader b = r.Body();
    EXPECT_EQ(b.ArrayLength(), 1);
    EXPECT_EQ(b.String(), "opc.tcp://localhost:49999");
    // Without a usable URL in the request the HEL's URL is used.
    Response f = h.Call(msg::FindServersRequest, [](Writer& w) {
        w.NullString();
        w.EmptyArray();
        w.EmptyArray();
    });
    Reader fb = f.Body();
    EXPECT_EQ(fb.ArrayLength(), 1);
    fb.String();
    fb.String();
    fb.ReadLocalizedText();
    fb.Int32();
    fb.String();
    fb.String();
    EXPECT_EQ(fb.StringArray(), std::vector<std::string>{"opc.tcp://127.0.0.1:4840"});
    // The server-URI filter: only a request that names this server, or none, gets it.
    for (const auto& [uris, count] : std::vector<std::pair<std::vector<std::string>, int32_t>>{
             {{}, 1}, {{"urn:other"}, 0}, {{"urn:other", "urn:test:tagserve"}, 1}, {{"urn:test:tagserve:x"}, 0}}) {
        Response filtered = h.Call(msg::FindServersRequest, [&](Writer& w) {
            w.NullString();
            w.EmptyArray();
            w.StringArray(uris);
        });
        EXPECT_EQ(filtered.Body().ArrayLength(), count) << uris.size();
    }
    // A profile we do not offer gives no endpoint.
    Response none = h.Call(msg::GetEndpointsRequest, [](Writer& w) {
        w.NullString();
        w.EmptyArray();
        w.StringArray({"http://opcfoundation.org/UA-Profile/Transport/https-uabinary"});
    });
    EXPECT_EQ(none.Body().ArrayLength(), 0);
}

// Every request a real client sent in the captured exchanges decodes: none
// is answered with BadDecodingError and the channel stays open. Session
// tokens and subscription ids of the recorded server are swapped for ours.
TEST(Services, CapturedClientRequestsAllDecode)
{
    for (const auto& name : test::TraceNames()) {
        SCOPED_TRACE(name);
        bool byPassword = name == "user" || name == "bad";
        Harness h(Credentials{byPassword, false, "op", "secret"});
        uint32_t subscription = 0;
        size_t requests = 0;
        struct Rec : MessageHandler {
            std::vector<std::string> bodies;
            void OnRequest(SecureChannel&, uint32_t, std::string_view body) override { bodies.emplace_back(body); }
        };
        std::map<int, std::pair<std::unique_ptr<Rec>, std::unique_ptr<SecureChannel>>> conns;
        std::vector<std::string> bodies;
        for (const auto& c : test::LoadTrace(name)) {
            if (!c.fromClient)
                continue;
            auto& [rec, ch] = conns[c.connection];
            if (!rec) {
                rec = std::make_unique<Rec>();
                ch = std::make_unique<SecureChannel>(1, *rec, 0);
            }
            std::string bytes = c.bytes;
            if (bytes.compare(0, 3, "HEL") != 0 && bytes.size() >= 12) {
                Writer w;
                w.UInt32(bytes.compare(0, 3, "OPN") == 0 && bytes[8] == 0 && bytes[9] == 0 ? 0 : 1);
                bytes.replace(8, 4, w.Bytes());
            }
            size_t before = rec->bodies.size();
            ch->Receive(bytes.data(), bytes.size(), 0);
            bodies.insert(bodies.end(), rec->bodies.begin() + static_cast<long>(before), rec->bodies.end());
        }
        for (const std::string& original : bodies) {
            Reader r(original);
            NodeId type = r.ReadNodeId();
            size_t tokenAt = r.Position();
            r.ReadNodeId();
            size_t tokenEnd = r.Position();
            std::string body = original.substr(0, tokenAt);
            Writer tw;
            tw.WriteNodeId(h.token);
            body += tw.Bytes();
            body += original.substr(tokenEnd);
            uint32_t t = type.numeric;
            bool firstIsSubscription = t == msg::CreateMonitoredItemsRequest || t == msg::ModifyMonitoredItemsRequest
                                       || t == msg::SetMonitoringModeRequest || t == msg::DeleteMonitoredItemsRequest
                                       || t == msg::RepublishRequest || t == msg::ModifySubscriptionRequest;
            if (firstIsSubscription) {
                Reader hr(body);
                hr.ReadNodeId();
                ReadRequestHeader(hr);
                Writer sw;
                sw.UInt32(subscription);
                body.replace(hr.Position(), 4, sw.Bytes());
            }
            ++requests;
            if (t == msg::ActivateSessionRequest) {
                // The recorded server offered other policy ids: decode the
                // client's token and present it under ours.
                Reader ar(body);
                ar.ReadNodeId();
                ReadRequestHeader(ar);
                ar.String();
                ar.ByteString();
                EXPECT_EQ(ar.ArrayLength(), 0);
                ar.StringArray();
                IdentityToken id = ParseIdentityToken(ar.ReadExtensionObject());
                uint32_t st = h.Activate(id.kind == TokenKind::UserName ? test::UserNameToken(id.user, id.password)
                                                                        : test::AnonymousToken());
                EXPECT_EQ(st, name == "bad" ? status::BadUserAccessDenied : status::Good);
                continue;
            }
            for (const Response& resp : h.SendRaw(body)) {
                EXPECT_NE(resp.serviceResult, status::BadDecodingError) << "request type " << t;
                if (resp.type == msg::CreateSessionResponse) {
                    Reader b = resp.Body();
                    b.ReadNodeId();
                    h.token = b.ReadNodeId();
                }
                if (resp.type == msg::CreateSubscriptionResponse)
                    subscription = resp.Body().UInt32();
            }
            ASSERT_FALSE(h.channel->Closed()) << "request type " << t;
        }
        EXPECT_GT(requests, 0u);
    }
}

} // namespace
} // namespace tagserve

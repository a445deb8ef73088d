// Numeric constants of the OPC UA binary protocol that this server uses:
// encoding node ids of the messages, status codes, attribute ids, node classes.
#pragma once

#include <cstdint>

namespace tagserve {

// Encoding node ids (ns 0) of the request and response bodies.
namespace msg {
constexpr uint32_t ServiceFault = 397;
constexpr uint32_t OpenSecureChannelRequest = 446, OpenSecureChannelResponse = 449;
constexpr uint32_t CloseSecureChannelRequest = 452;
constexpr uint32_t FindServersRequest = 422, FindServersResponse = 425;
constexpr uint32_t GetEndpointsRequest = 428, GetEndpointsResponse = 431;
constexpr uint32_t CreateSessionRequest = 461, CreateSessionResponse = 464;
constexpr uint32_t ActivateSessionRequest = 467, ActivateSessionResponse = 470;
constexpr uint32_t CloseSessionRequest = 473, CloseSessionResponse = 476;
constexpr uint32_t BrowseRequest = 527, BrowseResponse = 530;
constexpr uint32_t BrowseNextRequest = 533, BrowseNextResponse = 536;
constexpr uint32_t TranslateBrowsePathsRequest = 554, TranslateBrowsePathsResponse = 557;
constexpr uint32_t RegisterNodesRequest = 560, RegisterNodesResponse = 563;
constexpr uint32_t UnregisterNodesRequest = 566, UnregisterNodesResponse = 569;
constexpr uint32_t ReadRequest = 631, ReadResponse = 634;
constexpr uint32_t WriteRequest = 673, WriteResponse = 676;
constexpr uint32_t CreateMonitoredItemsRequest = 751, CreateMonitoredItemsResponse = 754;
constexpr uint32_t ModifyMonitoredItemsRequest = 763, ModifyMonitoredItemsResponse = 766;
constexpr uint32_t SetMonitoringModeRequest = 769, SetMonitoringModeResponse = 772;
constexpr uint32_t DeleteMonitoredItemsRequest = 781, DeleteMonitoredItemsResponse = 784;
constexpr uint32_t CreateSubscriptionRequest = 787, CreateSubscriptionResponse = 790;
constexpr uint32_t ModifySubscriptionRequest = 793, ModifySubscriptionResponse = 796;
constexpr uint32_t SetPublishingModeRequest = 799, SetPublishingModeResponse = 802;
constexpr uint32_t PublishRequest = 826, PublishResponse = 829;
constexpr uint32_t RepublishRequest = 832, RepublishResponse = 835;
constexpr uint32_t DeleteSubscriptionsRequest = 847, DeleteSubscriptionsResponse = 850;

constexpr uint32_t AnonymousIdentityToken = 321, UserNameIdentityToken = 324;
constexpr uint32_t DataChangeNotification = 811;
constexpr uint32_t DataChangeFilter = 724;
constexpr uint32_t ServerStatusDataType = 864, BuildInfo = 340;
} // namespace msg

namespace status {
constexpr uint32_t Good = 0;
constexpr uint32_t Bad = 0x80000000;
constexpr uint32_t BadInternalError = 0x80020000;
constexpr uint32_t BadDecodingError = 0x80070000;
constexpr uint32_t BadTimeout = 0x800A0000;
constexpr uint32_t BadServiceUnsupported = 0x800B0000;
constexpr uint32_t BadNothingToDo = 0x800F0000;
constexpr uint32_t BadTooManyOperations = 0x80100000;
constexpr uint32_t BadUserAccessDenied = 0x801F0000;
constexpr uint32_t BadIdentityTokenInvalid = 0x80200000;
constexpr uint32_t BadSecureChannelIdInvalid = 0x80220000;
constexpr uint32_t BadSessionIdInvalid = 0x80250000;
constexpr uint32_t BadSessionClosed = 0x80260000;
constexpr uint32_t BadSessionNotActivated = 0x80270000;
constexpr uint32_t BadSubscriptionIdInvalid = 0x80280000;
constexpr uint32_t BadTimestampsToReturnInvalid = 0x802B0000;
constexpr uint32_t BadWaitingForInitialData = 0x80320000;
constexpr uint32_t BadNodeIdUnknown = 0x80340000;
constexpr uint32_t BadAttributeIdInvalid = 0x80350000;
constexpr uint32_t BadIndexRangeInvalid = 0x80360000;
constexpr uint32_t BadDataEncodingInvalid = 0x80380000;
constexpr uint32_t BadNotWritable = 0x803B0000;
constexpr uint32_t BadOutOfRange = 0x803C0000;
constexpr uint32_t BadMonitoringModeInvalid = 0x80410000;
constexpr uint32_t BadMonitoredItemIdInvalid = 0x80420000;
constexpr uint32_t BadMonitoredItemFilterUnsupported = 0x80440000;
constexpr uint32_t BadFilterNotAllowed = 0x80450000;
constexpr uint32_t BadContinuationPointInvalid = 0x804A0000;
constexpr uint32_t BadNoContinuationPoints = 0x804B0000;
constexpr uint32_t BadReferenceTypeIdInvalid = 0x804C0000;
constexpr uint32_t BadBrowseDirectionInvalid = 0x804D0000;
constexpr uint32_t BadSecurityModeRejected = 0x80540000;
constexpr uint32_t BadSecurityPolicyRejected = 0x80550000;
constexpr uint32_t BadTooManySessions = 0x80560000;
constexpr uint32_t BadBrowseNameInvalid = 0x80600000;
constexpr uint32_t BadViewIdUnknown = 0x806B0000;
constexpr uint32_t BadNoMatch = 0x806F0000;
constexpr uint32_t BadMaxAgeInvalid = 0x80700000;
constexpr uint32_t BadWriteNotSupported = 0x80730000;
constexpr uint32_t BadTypeMismatch = 0x80740000;
constexpr uint32_t BadTooManySubscriptions = 0x80770000;
constexpr uint32_t BadTooManyPublishRequests = 0x80780000;
constexpr uint32_t BadNoSubscription = 0x80790000;
constexpr uint32_t BadSequenceNumberUnknown = 0x807A0000;
constexpr uint32_t BadMessageNotAvailable = 0x807B0000;
constexpr uint32_t BadTcpServerTooBusy = 0x807D0000;
constexpr uint32_t BadTcpMessageTypeInvalid = 0x807E0000;
constexpr uint32_t BadTcpSecureChannelUnknown = 0x807F0000;
constexpr uint32_t BadTcpMessageTooLarge = 0x80800000;
constexpr uint32_t BadTcpInternalError = 0x80820000;
constexpr uint32_t BadSecureChannelTokenUnknown = 0x80870000;
constexpr uint32_t BadSequenceNumberInvalid = 0x80880000;
constexpr uint32_t BadResponseTooLarge = 0x80B90000;
constexpr uint32_t BadTooManyMonitoredItems = 0x80DB0000;
// Set on a queued value when older values of the same item were dropped.
constexpr uint32_t InfoOverflow = 0x480;
} // namespace status

namespace attr {
constexpr uint32_t NodeId = 1, NodeClass = 2, BrowseName = 3, DisplayName = 4, Description = 5;
constexpr uint32_t WriteMask = 6, UserWriteMask = 7, IsAbstract = 8, Symmetric = 9, InverseName = 10;
constexpr uint32_t EventNotifier = 12, Value = 13, DataType = 14, ValueRank = 15, ArrayDimensions = 16;
constexpr uint32_t AccessLevel = 17, UserAccessLevel = 18, MinimumSamplingInterval = 19, Historizing = 20;
// The highest id the standard gives an attribute (AccessLevelEx); above it, and 0, name none.
constexpr uint32_t Last = 27;
} // namespace attr

enum class NodeClass : int32_t {
    Object = 1,
    Variable = 2,
    ObjectType = 8,
    VariableType = 16,
    ReferenceType = 32,
    DataType = 64,
};

// Built-in type ids of the binary encoding (the low six bits of a Variant mask).
namespace type {
constexpr uint8_t Boolean = 1, SByte = 2, Byte = 3, Int16 = 4, UInt16 = 5, Int32 = 6, UInt32 = 7;
constexpr uint8_t Int64 = 8, UInt64 = 9, Float = 10, Double = 11, String = 12, DateTime = 13, Guid = 14;
constexpr uint8_t ByteString = 15, XmlElement = 16, NodeId = 17, ExpandedNodeId = 18, StatusCode = 19;
constexpr uint8_t QualifiedName = 20, LocalizedText = 21, ExtensionObject = 22, DataValue = 23;
constexpr uint8_t Variant = 24, DiagnosticInfo = 25;
} // namespace type

// Reference types of namespace 0 used by the address space.
namespace ref {
constexpr uint32_t References = 31, NonHierarchical = 32, Hierarchical = 33, HasChild = 34, Organizes = 35;
constexpr uint32_t HasModellingRule = 37, HasTypeDefinition = 40, Aggregates = 44, HasSubtype = 45;
constexpr uint32_t HasProperty = 46, HasComponent = 47;
} // namespace ref

} // namespace tagserve

#include "fixtures.h"

#include "tagserve/envelope.h"
#include "tagserve/ids.h"
#include "tagserve/requests.h"

#include <gtest/gtest.h>

namespace tagserve {
namespace {

// The body after the RequestHeader of the anonymous-session trace's request of this type.
std::string TracedRequest(uint32_t type)
{
    for (const auto& c : test::LoadTrace("anon")) {
        if (!c.fromClient || c.bytes.compare(0, 4, "MSGF") != 0)
            continue;
        Reader r(c.bytes);
        r.Skip(24);
        if (r.ReadNodeId() != NodeId(0, type))
            continue;
        ReadRequestHeader(r);
        return std::string(r.Rest());
    }
    ADD_FAILURE() << "no request " << type << " in the trace";
    return {};
}

TEST(Requests, DecodeWhatTheClientSent)
{
    std::string readBody = TracedRequest(msg::ReadRequest);
    Reader read(readBody);
    ReadRequest rd = DecodeReadRequest(read);
    EXPECT_EQ(rd.maxAge, 2);
    EXPECT_EQ(rd.timestampsToReturn, 2u); // Both
    ASSERT_EQ(rd.nodesToRead.size(), 3u);
    EXPECT_EQ(rd.nodesToRead[2].nodeId, NodeId(1, 5));
    EXPECT_EQ(rd.nodesToRead[2].attributeId, attr::Value);
    EXPECT_FALSE(rd.nodesToRead[2].hasIndexRange);
    EXPECT_TRUE(rd.nodesToRead[2].dataEncoding.name.empty());

    std::string writeBody = TracedRequest(msg::WriteRequest);
    Reader write(writeBody);
    WriteRequest wr = DecodeWriteRequest(write);
    ASSERT_EQ(wr.nodesToWrite.size(), 3u);
    EXPECT_EQ(wr.nodesToWrite[1].nodeId, NodeId(1, 3));
    EXPECT_EQ(wr.nodesToWrite[1].value.value.type, type::Int32);
    EXPECT_EQ(std::get<int64_t>(wr.nodesToWrite[1].value.value.values[0]), 2);
    EXPECT_EQ(wr.nodesToWrite[2].value.value.type, type::Double);

    std::string translateBody = TracedRequest(msg::TranslateBrowsePathsRequest);
    Reader translate(translateBody);
    TranslateBrowsePathsRequest tr = DecodeTranslateBrowsePathsRequest(translate);
    ASSERT_EQ(tr.browsePaths.size(), 1u);
    EXPECT_EQ(tr.browsePaths[0].startingNode, NodeId(0, 85));
    ASSERT_EQ(tr.browsePaths[0].elements.size(), 2u);
    const RelativePathElement& last = tr.browsePaths[0].elements[1];
    EXPECT_EQ(last.referenceTypeId, NodeId(0, 33));
    EXPECT_FALSE(last.isInverse);
    EXPECT_TRUE(last.includeSubtypes);
    EXPECT_EQ(last.targetName, (QualifiedName{1, "p1"}));
}

TEST(Requests, TruncatedRequestsAreRefusedWhole)
{
    // Cut anywhere, a request fails to decode instead of yielding part of its items.
    for (uint32_t type : {msg::ReadRequest, msg::WriteRequest, msg::TranslateBrowsePathsRequest}) {
        std::string body = TracedRequest(type);
        for (size_t cut = 0; cut < body.size(); ++cut) {
            Reader r(std::string_view(body).substr(0, cut));
            auto decode = [&] {
                if (type == msg::ReadRequest)
                    DecodeReadRequest(r);
                else if (type == msg::WriteRequest)
                    DecodeWriteRequest(r);
                else
                    DecodeTranslateBrowsePathsRequest(r);
            };
            EXPECT_THROW(decode(), DecodeError) << "request " << type << " cut at " << cut;
        }
    }
}

} // namespace
} // namespace tagserve

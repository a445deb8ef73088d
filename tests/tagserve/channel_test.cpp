#include "testkit/tagserve/client_kit.h"
#include "fixtures.h"

#include "tagserve/binary.h"
#include "tagserve/envelope.h"
#include "tagserve/ids.h"
#include "tagserve/secure_channel.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace tagserve {
namespace {

using test::FromHex;

// Remembers every request the channel hands up.
struct Recorder : MessageHandler {
    struct Request {
        uint32_t requestId;
        std::string body;
    };
    std::vector<Request> requests;
    void OnRequest(SecureChannel&, uint32_t requestId, std::string_view body) override
    {
        requests.push_back({requestId, std::string(body)});
    }
};

const std::string kHello =
    FromHex("48454c46390000000000000000000a0000000a000000000000000000190000006f70632e7463703a2f2f"
            "3132372e302e302e313a3438343030");
const std::string kOpenIssue = FromHex(
    "4f504e4684000000000000002f000000687474703a2f2f6f7063666f756e646174696f6e2e6f72672f55412f536563757269747950"
    "6f6c696379234e6f6e65ffffffffffffffff01000000010000000100be01000030f8ed738b88dd010100000000000000ffffffff983a"
    "0000000000000000000000000001000000ffffffffc0270900");

uint32_t U32At(const std::string& s, size_t at)
{
    Reader r(s.data() + at, 4);
    return r.UInt32();
}

// An OPN of the given type on a channel, sequence and request id.
std::string Open(uint32_t channelId, uint32_t requestType, uint32_t sequence, const char* policy = kSecurityPolicyNone,
                 uint32_t securityMode = 1)
{
    return test::OpenChunk(sequence, sequence, channelId, requestType, policy, securityMode);
}

std::string Msg(char chunkType, uint32_t channelId, uint32_t token, uint32_t sequence, uint32_t requestId,
                const std::string& body, const char* type = "MSG")
{
    Writer w;
    w.Raw(std::string_view(type, 3));
    w.Byte(static_cast<uint8_t>(chunkType));
    w.UInt32(static_cast<uint32_t>(24 + body.size()));
    w.UInt32(channelId);
    w.UInt32(token);
    w.UInt32(sequence);
    w.UInt32(requestId);
    w.Raw(body);
    return w.Bytes();
}

struct Channel {
    Recorder handler;
    SecureChannel channel{77, handler, 0};

    void Feed(const std::string& bytes, int64_t now = 0) { channel.Receive(bytes.data(), bytes.size(), now); }
    std::string Take()
    {
        std::string out = std::move(channel.Output());
        channel.Output().clear();
        return out;
    }
    // HEL/ACK and OPN Issue done.
    void OpenUp()
    {
        Feed(kHello);
        Feed(kOpenIssue);
        Take();
    }
    uint32_t ErrorStatus()
    {
        std::string out = Take();
        EXPECT_EQ(out.substr(0, 4), "ERRF");
        EXPECT_TRUE(channel.Closed());
        return out.size() >= 12 ? U32At(out, 8) : 0;
    }
};

TEST(SecureChannel, HelloIsAnsweredWithNegotiatedSizes)
{
    struct Case {
        uint32_t clientReceive, clientSend;
        uint32_t ackReceive, ackSend; // 0: ERR expected
    };
    const Case cases[] = {
        {655360, 655360, 65536, 65536},
        {8192, 16384, 16384, 8192},
        {4096, 65536, 0, 0},
    };
    for (const auto& c : cases) {
        Channel ch;
        ch.Feed(test::HelloChunk("opc.tcp://h:1", c.clientReceive, c.clientSend));
        if (c.ackReceive == 0) {
            EXPECT_EQ(ch.ErrorStatus(), status::BadTcpInternalError);
            continue;
        }
        std::string ack = ch.Take();
        ASSERT_EQ(ack.size(), 28u);
        EXPECT_EQ(ack.substr(0, 4), "ACKF");
        EXPECT_EQ(U32At(ack, 12), c.ackReceive);
        EXPECT_EQ(U32At(ack, 16), c.ackSend);
        EXPECT_EQ(U32At(ack, 20), kMaxRequestMessageSize);
        EXPECT_EQ(ch.channel.HelloUrl(), "opc.tcp://h:1");
    }
}

TEST(SecureChannel, OpenIssueFromCapturedClientGivesChannelAndToken)
{
    Channel ch;
    ch.Feed(kHello);
    ch.Take();
    // Fed byte by byte: chunk assembly must not depend on how TCP cuts the stream.
    for (char c : kOpenIssue)
        ch.channel.Receive(&c, 1, 0);
    std::string out = ch.Take();
    ASSERT_EQ(out.substr(0, 4), "OPNF");
    EXPECT_EQ(U32At(out, 4), out.size());
    EXPECT_EQ(U32At(out, 8), 77u);
    Reader r(out);
    r.Skip(12);
    EXPECT_EQ(r.String(), kSecurityPolicyNone);
    r.ByteString();
    r.ByteString();
    EXPECT_EQ(r.UInt32(), 1u); // first sequence number
    EXPECT_EQ(r.UInt32(), 1u); // request id echoed
    EXPECT_EQ(r.ReadNodeId(), NodeId(0, msg::OpenSecureChannelResponse));
    r.Int64();
    EXPECT_EQ(r.UInt32(), 1u); // request handle
    EXPECT_EQ(r.UInt32(), status::Good);
    r.ReadDiagnosticInfo();
    r.StringArray();
    r.ReadExtensionObject();
    r.UInt32();
    EXPECT_EQ(r.UInt32(), 77u);
    EXPECT_EQ(r.UInt32(), 1u);
    r.Int64();
    EXPECT_EQ(r.UInt32(), 600000u);
    EXPECT_TRUE(ch.channel.IsOpen());
}

TEST(SecureChannel, RenewKeepsOldTokenUntilClientSwitches)
{
    Channel ch;
    ch.OpenUp();
    ch.Feed(Msg('F', 77, 1, 2, 2, "a"));
    ch.Feed(Open(77, 1, 3));
    EXPECT_EQ(ch.Take().substr(0, 4), "OPNF");
    ch.Feed(Msg('F', 77, 1, 4, 3, "b")); // old token still fine
    ASSERT_TRUE(ch.channel.Send(3, "r"));
    EXPECT_EQ(U32At(ch.Take(), 12), 1u) << "answers keep the old token until the client switches";
    ch.Feed(Msg('F', 77, 2, 5, 4, "c")); // switch
    ASSERT_TRUE(ch.channel.Send(4, "r"));
    EXPECT_EQ(U32At(ch.Take(), 12), 2u);
    EXPECT_EQ(ch.handler.requests.size(), 3u);
    ch.Feed(Msg('F', 77, 1, 6, 5, "d")); // old token now gone
    EXPECT_EQ(ch.ErrorStatus(), status::BadSecureChannelTokenUnknown);
}

TEST(SecureChannel, ProtocolViolationsGiveErrAndClose)
{
    struct Case {
        const char* name;
        std::string bytes;
        uint32_t status;
    };
    const Case cases[] = {
        {"unknown channel", Msg('F', 78, 1, 2, 2, "x"), status::BadTcpSecureChannelUnknown},
        {"unknown token", Msg('F', 77, 9, 2, 2, "x"), status::BadSecureChannelTokenUnknown},
        {"sequence gap", Msg('F', 77, 1, 5, 2, "x"), status::BadSequenceNumberInvalid},
        {"second Issue", Open(0, 0, 2), status::BadTcpSecureChannelUnknown},
        {"Renew of other channel", Open(5, 1, 2), status::BadTcpSecureChannelUnknown},
        {"unknown message type", Msg('F', 77, 1, 2, 2, "x", "XYZ"), status::BadTcpMessageTypeInvalid},
        {"unknown chunk type", Msg('X', 77, 1, 2, 2, "x"), status::BadTcpMessageTypeInvalid},
        {"chunk over receive buffer", std::string("MSGF\x00\x00\x02\x00", 8), status::BadTcpMessageTooLarge},
        {"size below header", std::string("MSGF\x04\x00\x00\x00", 8), status::BadTcpMessageTypeInvalid},
        {"truncated header in chunk", std::string("MSGF\x0c\x00\x00\x00\x4d\x00\x00\x00", 12),
         status::BadDecodingError},
    };
    for (const auto& c : cases) {
        Channel ch;
        ch.OpenUp();
        ch.Feed(c.bytes);
        EXPECT_EQ(ch.ErrorStatus(), c.status) << c.name;
        // Nothing more is read after the ERR.
        ch.Feed(Msg('F', 77, 1, 2, 2, "x"));
        EXPECT_TRUE(ch.handler.requests.empty()) << c.name;
        EXPECT_TRUE(ch.Take().empty()) << c.name;
    }
}

TEST(SecureChannel, OpenRefusesOtherPoliciesModesAndMissingHello)
{
    {
        Channel ch;
        ch.Feed(kOpenIssue);
        EXPECT_EQ(ch.ErrorStatus(), status::BadTcpMessageTypeInvalid);
    }
    {
        Channel ch;
        ch.Feed(kHello);
        ch.Take();
        ch.Feed(Open(0, 0, 1, "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256"));
        EXPECT_EQ(ch.ErrorStatus(), status::BadSecurityPolicyRejected);
    }
    {
        Channel ch;
        ch.Feed(kHello);
        ch.Take();
        ch.Feed(Open(0, 0, 1, kSecurityPolicyNone, 3));
        EXPECT_EQ(ch.ErrorStatus(), status::BadSecurityModeRejected);
    }
}

TEST(SecureChannel, ChunksAreReassembledPerRequestAndAbortDiscards)
{
    Channel ch;
    ch.OpenUp();
    ch.Feed(Msg('C', 77, 1, 2, 10, "ab"));
    ch.Feed(Msg('C', 77, 1, 3, 11, "zz"));
    ch.Feed(Msg('C', 77, 1, 4, 10, "cd"));
    ch.Feed(Msg('A', 77, 1, 5, 11, "\x00\x00\x00\x80"));
    ch.Feed(Msg('F', 77, 1, 6, 10, "ef"));
    ASSERT_EQ(ch.handler.requests.size(), 1u);
    EXPECT_EQ(ch.handler.requests[0].requestId, 10u);
    EXPECT_EQ(ch.handler.requests[0].body, "abcdef");
    EXPECT_FALSE(ch.channel.Closed());

    // Partial messages share one size limit.
    {
        Channel big;
        big.OpenUp();
        std::string part(60000, 'x');
        uint32_t seq = 2;
        for (uint32_t request = 1; request <= 4; ++request)
            for (int i = 0; i < 18 && !big.channel.Closed(); ++i)
                big.Feed(Msg('C', 77, 1, seq++, request, part));
        EXPECT_EQ(big.ErrorStatus(), status::BadTcpMessageTooLarge);
        EXPECT_LT(seq, 2u + 4 * 18) << "refused once all four together pass 4 MiB";
    }

    // More partial messages than allowed close the connection.
    for (uint32_t i = 0; i < 5; ++i)
        ch.Feed(Msg('C', 77, 1, 7 + i, 20 + i, "x"));
    EXPECT_EQ(ch.ErrorStatus(), status::BadTcpMessageTooLarge);
}

TEST(SecureChannel, ResponsesAreSplitBySendBufferAndLimitsRespected)
{
    Channel ch;
    ch.Feed(kHello); // the client's buffers give 65536-byte chunks
    ch.Feed(kOpenIssue);
    ch.Take();
    std::string body(150000, 'x');
    ASSERT_TRUE(ch.channel.Send(5, body));
    std::string out = ch.Take();
    size_t at = 0;
    std::string joined;
    std::vector<char> types;
    uint32_t expectSeq = 2;
    while (at < out.size()) {
        uint32_t size = U32At(out, at + 4);
        EXPECT_LE(size, 65536u);
        types.push_back(out[at + 3]);
        EXPECT_EQ(U32At(out, at + 16), expectSeq++);
        EXPECT_EQ(U32At(out, at + 20), 5u);
        joined += out.substr(at + 24, size - 24);
        at += size;
    }
    EXPECT_EQ(joined, body);
    EXPECT_EQ(std::string(types.begin(), types.end()), "CCF");
    EXPECT_FALSE(ch.channel.Send(6, body, 100000)); // over the session's response limit
    EXPECT_TRUE(ch.Take().empty());
    // This client sets no limit of its own: the server's holds.
    EXPECT_FALSE(ch.channel.Send(7, std::string(kMaxResponseMessageSize + 1, 'x')));
    EXPECT_TRUE(ch.Take().empty());
}

TEST(SecureChannel, HelloTimeoutAndTokenExpiry)
{
    Channel ch;
    EXPECT_FALSE(ch.channel.Expired(kHelloTimeoutMs));
    EXPECT_TRUE(ch.channel.Expired(kHelloTimeoutMs + 1));
    ch.OpenUp();
    EXPECT_FALSE(ch.channel.Expired(600000));
    EXPECT_TRUE(ch.channel.Expired(750001));
}

// A HEL that the server reads late (it was busy with other clients' turns) is
// answered, and the client then has its own time for the OpenSecureChannel.
TEST(SecureChannel, AHelloReadLateStillLeavesTimeForTheOpen)
{
    Channel ch;
    constexpr int64_t late = kHelloTimeoutMs + 1000;
    ch.Feed(kHello, late);
    EXPECT_EQ(ch.Take().substr(0, 4), "ACKF");
    EXPECT_FALSE(ch.channel.Expired(late));
    EXPECT_FALSE(ch.channel.Expired(late + kHelloTimeoutMs));
    EXPECT_TRUE(ch.channel.Expired(late + kHelloTimeoutMs + 1)) << "a client that never opens still goes";
}

// Every chunk a real client sent, in every captured exchange, passes the
// channel layer: framing, sequence numbers, tokens and reassembly.
TEST(SecureChannel, CapturedClientChunksAllPass)
{
    for (const auto& name : test::TraceNames()) {
        std::map<int, std::unique_ptr<Channel>> connections;
        size_t requests = 0;
        for (const auto& c : test::LoadTrace(name)) {
            if (!c.fromClient)
                continue;
            auto& ch = connections[c.connection];
            if (!ch)
                ch = std::make_unique<Channel>();
            std::string bytes = c.bytes;
            std::string type = bytes.substr(0, 3);
            // The recorded server chose other channel ids: put ours in.
            if (type != "HEL" && U32At(bytes, 8) != 0) {
                Writer w;
                w.UInt32(ch->channel.Id());
                bytes.replace(8, 4, w.Bytes());
            }
            size_t before = ch->handler.requests.size();
            ch->Feed(bytes);
            requests += ch->handler.requests.size() - before;
            ASSERT_EQ(ch->channel.Closed(), type == "CLO") << name << " " << type;
        }
        EXPECT_GT(requests, 0u) << name;
        for (auto& [conn, ch] : connections)
            for (const auto& req : ch->handler.requests) {
                Reader r(req.body);
                EXPECT_EQ(r.ReadNodeId().ns, 0) << name;
                EXPECT_NO_THROW(ReadRequestHeader(r)) << name;
            }
    }
}

TEST(ChunkStream, HoldsOnlyWhatIsUnreadWhateverTheReadsBring)
{
    // Chunks of 8000 bytes, as a client's Read requests of a few hundred nodes.
    std::string chunk = "MSGF";
    Writer size;
    size.UInt32(8000);
    chunk += size.Bytes();
    chunk.resize(8000, 'x');
    const std::string stream5 = chunk + chunk + chunk + chunk + chunk;
    struct Pattern {
        const char* name;
        std::vector<std::string> reads; // what the reads bring, in turn
        size_t chunks;                  // in one turn
        bool takesAll;                  // else one chunk per read, as the channel takes one request per turn
    } patterns[] = {
        {"one whole chunk per read", {chunk}, 1, false},
        {"two and a half chunks per read", {stream5.substr(0, 20000), stream5.substr(20000)}, 5, true},
    };
    for (const Pattern& p : patterns) {
        ChunkStream stream;
        std::string out;
        size_t taken = 0;
        for (int turn = 0; turn < 20000; ++turn)
            for (const std::string& read : p.reads) {
                stream.Append(read.data(), read.size());
                size_t now = 0;
                while ((p.takesAll || now == 0) && stream.Next(kMaxBufferSize, out) == ChunkStream::Result::Chunk)
                    ++now;
                taken += now;
                ASSERT_LE(stream.Buffered(), chunk.size() + read.size()) << p.name << ", turn " << turn;
            }
        EXPECT_EQ(taken, 20000u * p.chunks) << p.name;
        EXPECT_EQ(out, chunk) << p.name;
    }
}

} // namespace
} // namespace tagserve

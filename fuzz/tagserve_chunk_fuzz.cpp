// libFuzzer target for what a client can send: the chunk stream, HEL, OPN,
// reassembly, and every service's request decoder behind an open session.
//
// The first byte picks the mode: even, the input is a raw byte stream from
// connection start; odd, the rest is cut at 0xFF 0xFE markers into request
// bodies that go out as well-formed MSG chunks on an open channel and session.
#include "testkit/tagserve/client_kit.h"

#include "binary.h"
#include "ids.h"
#include "model.h"
#include "secure_channel.h"
#include "services.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace {

using namespace tagserve;

int64_t Clock() { return 1000000; }

void CallbackSink(int32_t) {}

const Model& FixtureModel()
{
    static Model* model = [] {
        auto* m = new Model;
        m->AddGroup(80001, "Station_1");
        m->AddVariable(1, 0, 80001, false, "Connected");
        m->AddVariable(2, 0, 80001, true, "p_sw");
        m->AddVariable(3, 5, 80001, true, "p_int");
        m->AddVariable(4, 10, 80001, false, "m1");
        return m;
    }();
    return *model;
}

struct Fixture {
    ServerConfig config;
    std::unique_ptr<Services> services;
    std::unique_ptr<SecureChannel> channel;
    uint32_t sequence = 2;
    uint32_t requestId = 2;
    NodeId token;

    Fixture()
    {
        config.callback = &CallbackSink;
        // The model is only read by the services here; a const_cast keeps one instance for all runs.
        services = std::make_unique<Services>(const_cast<Model&>(FixtureModel()), config, &Clock);
        channel = std::make_unique<SecureChannel>(7, *services, Clock());
        services->AttachChannel(*channel);
    }

    // As the server loop does: the requests received take their turns until none is left.
    void Feed(std::string_view bytes)
    {
        channel->Receive(bytes.data(), bytes.size(), Clock());
        while (channel->HasUnreadInput() && channel->Output().size() < kMaxPendingOutput)
            channel->Receive(nullptr, 0, Clock());
    }

    void Request(std::string_view body)
    {
        Writer w;
        w.Raw("MSGF");
        w.UInt32(static_cast<uint32_t>(24 + body.size()));
        w.UInt32(7);
        w.UInt32(1);
        w.UInt32(sequence++);
        w.UInt32(requestId++);
        w.Raw(body);
        Feed(w.Bytes());
    }

    // CreateSession and anonymous ActivateSession, so the session services decode their bodies.
    void OpenSession()
    {
        Writer c;
        c.WriteNodeId(NodeId(0, msg::CreateSessionRequest));
        test::WriteRequestHeader(c, token, 1);
        test::WriteCreateSessionBody(c);
        Request(c.Bytes());
        Reader r(channel->Output());
        r.Skip(24);
        r.ReadNodeId();
        r.Skip(8 + 4 + 4);
        r.ReadDiagnosticInfo();
        r.StringArray();
        r.ReadExtensionObject();
        r.ReadNodeId();
        token = r.ReadNodeId();
        channel->Output().clear();
        Writer a;
        a.WriteNodeId(NodeId(0, msg::ActivateSessionRequest));
        test::WriteRequestHeader(a, token, 2);
        test::WriteActivateSessionBody(a, test::AnonymousToken());
        Request(a.Bytes());
        channel->Output().clear();
    }

    // Each fuzzed body gets the session's token put in front, after its encoding id.
    void FuzzedRequest(std::string_view part)
    {
        if (part.size() < 2)
            return;
        Writer w;
        w.WriteNodeId(
            NodeId(0, static_cast<uint32_t>(static_cast<uint8_t>(part[0]) | (static_cast<uint8_t>(part[1]) << 8))));
        w.WriteNodeId(token);
        w.Raw(part.substr(2));
        Request(w.Bytes());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    Fixture f;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        f.Feed(input);
        return 0;
    }
    f.Feed(test::HelloChunk());
    f.Feed(test::OpenChunk(1, 1));
    f.channel->Output().clear();
    f.OpenSession();
    size_t at = 0;
    while (at <= input.size() && !f.channel->Closed()) {
        size_t end = input.find("\xff\xfe", at);
        if (end == std::string_view::npos)
            end = input.size();
        f.FuzzedRequest(input.substr(at, end - at));
        f.channel->Output().clear();
        at = end + 2;
    }
    return 0;
}

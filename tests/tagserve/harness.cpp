#include "harness.h"

#include "tagserve/envelope.h"

#include <stdexcept>

namespace tagserve::test {

int64_t fakeNowMs = 1000000;
int64_t FakeClock() { return fakeNowMs; }
std::vector<int32_t> writtenIds;
void RecordWrite(int32_t id) { writtenIds.push_back(id); }

void BuildFixtureModel(Model& model)
{
    model.Reset(5, 2);
    model.AddGroup(80001, "Station_1");
    model.AddGroup(80002, "lifebit");
    model.AddVariable(1, 0, 80001, false, "Connected");
    model.AddVariable(2, 0, 80001, true, "p_sw");
    model.AddVariable(3, 5, 80001, true, "p_int");
    model.AddVariable(4, 10, 80001, false, "m1");
    model.AddVariable(5, 5, 80002, false, "lifebit");
}

Harness::Harness(Credentials credentials, bool withCallback, const std::function<void(Model&)>& build)
{
    build(model);
    config.credentials = std::move(credentials);
    config.callback = withCallback ? &RecordWrite : nullptr;
    config.info.applicationUri = "urn:test:tagserve";
    services = std::make_unique<Services>(model, config, &FakeClock);
    channel = std::make_unique<SecureChannel>(500, *services, fakeNowMs);
    services->AttachChannel(*channel);
    writtenIds.clear();

    std::string hello = HelloChunk();
    channel->Receive(hello.data(), hello.size(), fakeNowMs);
    std::string open = OpenChunk(sequence_++, requestId_++);
    channel->Receive(open.data(), open.size(), fakeNowMs);
    channel->Output().clear();
}

std::vector<Response> Harness::Collect()
{
    // Reassemble the MSG chunks of each response.
    std::vector<Response> out;
    std::string& bytes = channel->Output();
    std::string pending;
    size_t at = 0;
    while (at + 24 <= bytes.size()) {
        Reader h(bytes.data() + at, bytes.size() - at);
        h.Skip(3);
        char chunkType = static_cast<char>(h.Byte());
        uint32_t size = h.UInt32();
        if (bytes.compare(at, 3, "MSG") != 0)
            throw std::runtime_error("unexpected chunk " + bytes.substr(at, 3));
        pending.append(bytes, at + 24, size - 24);
        at += size;
        if (chunkType != 'F')
            continue;
        Reader r(pending);
        Response resp;
        resp.type = r.ReadNodeId().numeric;
        r.Int64();
        resp.requestHandle = r.UInt32();
        resp.serviceResult = r.UInt32();
        r.ReadDiagnosticInfo();
        r.StringArray();
        r.ReadExtensionObject();
        resp.body = std::string(r.Rest());
        out.push_back(std::move(resp));
        pending.clear();
    }
    bytes.clear();
    return out;
}

std::vector<Response> Harness::SendRaw(const std::string& body)
{
    std::string chunks = Chunks(body);
    channel->Receive(chunks.data(), chunks.size(), fakeNowMs);
    return Collect();
}

std::string Harness::Chunks(const std::string& body)
{
    // Cut into chunks as a client with 65536-byte buffers would.
    constexpr size_t perChunk = 65536 - 24;
    size_t offset = 0;
    uint32_t requestId = requestId_++;
    std::string out;
    do {
        std::string part = body.substr(offset, perChunk);
        offset += part.size();
        Writer w;
        w.Raw("MSG");
        w.Byte(offset >= body.size() ? 'F' : 'C');
        w.UInt32(static_cast<uint32_t>(24 + part.size()));
        w.UInt32(channel->Id());
        w.UInt32(1);
        w.UInt32(sequence_++);
        w.UInt32(requestId);
        w.Raw(part);
        out += w.Bytes();
    } while (offset < body.size());
    return out;
}

std::vector<Response> Harness::Send(uint32_t type, const std::function<void(Writer&)>& body,
                                    std::optional<NodeId> withToken)
{
    Writer w;
    w.WriteNodeId(NodeId(0, type));
    WriteRequestHeader(w, withToken ? *withToken : token, handle_++, 10000);
    body(w);
    return SendRaw(w.Bytes());
}

Response Harness::Call(uint32_t type, const std::function<void(Writer&)>& body)
{
    std::vector<Response> r = Send(type, body);
    if (r.size() != 1)
        throw std::runtime_error("expected one response, got " + std::to_string(r.size()));
    return r[0];
}

uint32_t Harness::Activate(const ExtensionObject& identity)
{
    Response r = Call(msg::ActivateSessionRequest, [&](Writer& w) { WriteActivateSessionBody(w, identity); });
    return r.serviceResult;
}

void Harness::OpenSession()
{
    Response r = Call(msg::CreateSessionRequest, [](Writer& w) { WriteCreateSessionBody(w); });
    if (r.serviceResult != status::Good)
        throw std::runtime_error("CreateSession failed");
    Reader b = r.Body();
    b.ReadNodeId();
    token = b.ReadNodeId();
    if (Activate(config.credentials.byPassword ? UserNameToken(config.credentials.user, config.credentials.password)
                                               : AnonymousToken())
        != status::Good)
        throw std::runtime_error("ActivateSession failed");
}

} // namespace tagserve::test

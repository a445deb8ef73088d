#include "secure_channel.h"

#include "binary.h"
#include "clock.h"
#include "envelope.h"
#include "ids.h"

#include <algorithm>

namespace tagserve {

namespace {

// Chunk header, channel id, token id, sequence number, request id.
constexpr size_t kSymmetricOverhead = 24;
constexpr uint32_t kSequenceWrapAbove = 4294966271u;

} // namespace

SecureChannel::SecureChannel(uint32_t channelId, MessageHandler& handler, int64_t nowMs)
    : handler_(handler), channelId_(channelId), openingSinceMs_(nowMs)
{
}

void SecureChannel::Receive(const char* data, size_t size, int64_t nowMs)
{
    if (closed_)
        return;
    stream_.Append(data, size);
    std::string chunk;
    requestTaken_ = false;
    while (!closed_ && !requestTaken_ && output_.size() < kMaxPendingOutput) {
        switch (stream_.Next(ChunkLimit(), chunk)) {
        case ChunkStream::Result::NeedMore: return;
        case ChunkStream::Result::TooLarge:
            Fail(status::BadTcpMessageTooLarge, "chunk larger than the receive buffer");
            return;
        case ChunkStream::Result::Malformed: Fail(status::BadTcpMessageTypeInvalid, "malformed chunk header"); return;
        case ChunkStream::Result::Chunk: try { OnChunk(chunk, nowMs);
            } catch (const DecodeError& e) {
                Fail(status::BadDecodingError, e.what());
            }
            break;
        }
    }
}

uint32_t SecureChannel::ChunkLimit() const
{
    // Before the HEL is through only a HEL-sized chunk makes sense.
    return hello_ ? limits_.receiveBufferSize : kMaxUrlBytes + 64;
}

bool SecureChannel::HasUnreadInput() const { return !closed_ && stream_.HasChunk(ChunkLimit()); }

void SecureChannel::OnChunk(const std::string& chunk, int64_t nowMs)
{
    ChunkHeader h = ParseChunkHeader(chunk);
    if (!hello_) {
        if (h.messageType != "HEL" || h.chunkType != 'F')
            return Fail(status::BadTcpMessageTypeInvalid, "expected HEL");
        return OnHello(chunk, nowMs);
    }
    if (h.messageType == "OPN" && h.chunkType == 'F')
        return OnOpen(chunk, nowMs);
    if ((h.messageType == "MSG" || h.messageType == "CLO") && open_)
        return OnMessage(chunk, h, nowMs);
    Fail(status::BadTcpMessageTypeInvalid, "unexpected message type");
}

void SecureChannel::OnHello(const std::string& chunk, int64_t nowMs)
{
    Hello hello = ParseHello(chunk);
    if (hello.receiveBufferSize < kMinBufferSize || hello.sendBufferSize < kMinBufferSize)
        return Fail(status::BadTcpInternalError, "buffer sizes below 8192");
    limits_ = Negotiate(hello);
    helloUrl_ = hello.endpointUrl;
    hello_ = true;
    openingSinceMs_ = nowMs;
    output_ += BuildAck(limits_);
}

void SecureChannel::OnOpen(const std::string& chunk, int64_t nowMs)
{
    Reader r(chunk);
    r.Skip(kChunkHeaderSize);
    uint32_t channelId = r.UInt32();
    std::string policy = r.String();
    r.ByteString(); // sender certificate
    r.ByteString(); // receiver certificate thumbprint
    uint32_t sequence = r.UInt32();
    uint32_t requestId = r.UInt32();
    if (r.ReadNodeId() != NodeId(0, msg::OpenSecureChannelRequest))
        return Fail(status::BadDecodingError, "OPN without OpenSecureChannelRequest");
    RequestHeader header = ReadRequestHeader(r);
    r.UInt32(); // clientProtocolVersion
    uint32_t requestType = r.UInt32();
    uint32_t securityMode = r.UInt32();
    r.ByteString(); // clientNonce: unused under None
    uint32_t requestedLifetime = r.UInt32();

    if (policy != kSecurityPolicyNone)
        return Fail(status::BadSecurityPolicyRejected, "only SecurityPolicy None is offered");
    if (securityMode != 1)
        return Fail(status::BadSecurityModeRejected, "only security mode None is offered");
    if (!AcceptSequence(sequence))
        return Fail(status::BadSequenceNumberInvalid, "sequence number out of order");
    if (requestType == 0) { // Issue
        if (open_ || channelId != 0)
            return Fail(status::BadTcpSecureChannelUnknown, "Issue on an open channel");
        open_ = true;
        tokenId_ = 1;
    } else if (requestType == 1) { // Renew
        if (!open_ || channelId != channelId_)
            return Fail(status::BadTcpSecureChannelUnknown, "Renew of an unknown channel");
        previousTokenId_ = tokenId_;
        previousExpiresMs_ = tokenExpiresMs_;
        ++tokenId_;
    } else {
        return Fail(status::BadDecodingError, "unknown OPN request type");
    }
    uint32_t lifetime = std::clamp(requestedLifetime, kMinTokenLifetimeMs, kMaxTokenLifetimeMs);
    tokenExpiresMs_ = nowMs + int64_t{lifetime} * 5 / 4;

    Writer w;
    w.Raw("OPNF");
    w.UInt32(0);
    w.UInt32(channelId_);
    w.String(kSecurityPolicyNone);
    w.Int32(-1);
    w.Int32(-1);
    w.UInt32(NextSendSequence());
    w.UInt32(requestId);
    BeginResponse(w, msg::OpenSecureChannelResponse, header.requestHandle);
    w.UInt32(0); // serverProtocolVersion
    w.UInt32(channelId_);
    w.UInt32(tokenId_);
    w.Int64(UaNow());
    w.UInt32(lifetime);
    w.ByteString(""); // serverNonce
    w.PatchUInt32(4, static_cast<uint32_t>(w.Size()));
    output_ += w.Bytes();
}

void SecureChannel::OnMessage(const std::string& chunk, const ChunkHeader& h, int64_t nowMs)
{
    Reader r(chunk);
    r.Skip(kChunkHeaderSize);
    if (r.UInt32() != channelId_)
        return Fail(status::BadTcpSecureChannelUnknown, "unknown secure channel");
    if (!AcceptToken(r.UInt32(), nowMs))
        return Fail(status::BadSecureChannelTokenUnknown, "unknown token");
    if (!AcceptSequence(r.UInt32()))
        return Fail(status::BadSequenceNumberInvalid, "sequence number out of order");
    uint32_t requestId = r.UInt32();
    std::string_view body = r.Rest();

    if (h.messageType == "CLO") {
        // No answer: the client closes and so do we. Its sessions stay for a later channel.
        closed_ = true;
        return;
    }
    if (h.chunkType == 'A') {
        if (auto it = partial_.find(requestId); it != partial_.end()) {
            partialBytes_ -= it->second.size();
            partial_.erase(it);
        }
        return;
    }
    if (h.chunkType != 'C' && h.chunkType != 'F')
        return Fail(status::BadTcpMessageTypeInvalid, "unknown chunk type");
    auto it = partial_.find(requestId);
    if (it == partial_.end()) {
        if (h.chunkType == 'F') {
            requestTaken_ = true;
            return handler_.OnRequest(*this, requestId, body);
        }
        if (partial_.size() >= kMaxPartialMessages)
            return Fail(status::BadTcpMessageTooLarge, "too many partial messages");
        it = partial_.emplace(requestId, std::string()).first;
    }
    // One limit for all partial messages of the channel together, not one each.
    if (partialBytes_ + body.size() > kMaxRequestMessageSize)
        return Fail(status::BadTcpMessageTooLarge, "request larger than 4 MiB");
    it->second.append(body);
    partialBytes_ += body.size();
    if (h.chunkType == 'F') {
        std::string whole = std::move(it->second);
        partialBytes_ -= whole.size();
        partial_.erase(it);
        requestTaken_ = true;
        handler_.OnRequest(*this, requestId, whole);
    }
}

bool SecureChannel::AcceptToken(uint32_t tokenId, int64_t nowMs)
{
    if (tokenId == tokenId_) {
        previousTokenId_ = 0; // the client has switched; the old token is done
        return true;
    }
    return previousTokenId_ != 0 && tokenId == previousTokenId_ && nowMs < previousExpiresMs_;
}

bool SecureChannel::AcceptSequence(uint32_t sequenceNumber)
{
    bool ok = !anySequence_ || sequenceNumber == lastSequence_ + 1
              || (lastSequence_ > kSequenceWrapAbove && sequenceNumber < 1024);
    if (ok) {
        anySequence_ = true;
        lastSequence_ = sequenceNumber;
    }
    return ok;
}

uint32_t SecureChannel::NextSendSequence()
{
    sendSequence_ = sendSequence_ >= kSequenceWrapAbove ? 1 : sendSequence_ + 1;
    return sendSequence_;
}

bool SecureChannel::Send(uint32_t requestId, std::string_view body, uint32_t extraLimit)
{
    if (closed_)
        return true;
    size_t perChunk = limits_.sendBufferSize - kSymmetricOverhead;
    size_t chunks = std::max<size_t>(1, (body.size() + perChunk - 1) / perChunk);
    if (body.size() > kMaxResponseMessageSize
        || (limits_.clientMaxMessageSize != 0 && body.size() > limits_.clientMaxMessageSize)
        || (limits_.clientMaxChunkCount != 0 && chunks > limits_.clientMaxChunkCount)
        || (extraLimit != 0 && body.size() > extraLimit))
        return false;
    // After a Renew the old token secures our messages until the client switches.
    uint32_t token = previousTokenId_ != 0 ? previousTokenId_ : tokenId_;
    for (size_t i = 0; i < chunks; ++i) {
        std::string_view part = body.substr(i * perChunk, perChunk);
        Writer w;
        w.Raw("MSG");
        w.Byte(i + 1 == chunks ? 'F' : 'C');
        w.UInt32(static_cast<uint32_t>(kSymmetricOverhead + part.size()));
        w.UInt32(channelId_);
        w.UInt32(token);
        w.UInt32(NextSendSequence());
        w.UInt32(requestId);
        w.Raw(part);
        output_ += w.Bytes();
    }
    return true;
}

void SecureChannel::Fail(uint32_t status, std::string_view reason)
{
    if (closed_)
        return;
    output_ += BuildError(status, reason);
    closed_ = true;
}

bool SecureChannel::Expired(int64_t nowMs) const
{
    if (!open_)
        return nowMs - openingSinceMs_ > kHelloTimeoutMs;
    return nowMs > tokenExpiresMs_;
}

} // namespace tagserve

#include "transport.h"

#include "binary.h"
#include "ids.h"

#include <algorithm>

namespace tagserve {

ChunkHeader ParseChunkHeader(std::string_view chunk)
{
    ChunkHeader h;
    h.messageType = chunk.substr(0, 3);
    h.chunkType = chunk[3];
    Reader r(chunk.substr(4, 4));
    h.messageSize = r.UInt32();
    return h;
}

Hello ParseHello(std::string_view chunk)
{
    Reader r(chunk);
    r.Skip(kChunkHeaderSize);
    Hello h;
    h.protocolVersion = r.UInt32();
    h.receiveBufferSize = r.UInt32();
    h.sendBufferSize = r.UInt32();
    h.maxMessageSize = r.UInt32();
    h.maxChunkCount = r.UInt32();
    h.endpointUrl = r.String();
    if (h.endpointUrl.size() > kMaxUrlBytes)
        throw DecodeError("endpoint URL too long");
    return h;
}

Negotiated Negotiate(const Hello& hello)
{
    Negotiated n;
    n.receiveBufferSize = std::min(hello.sendBufferSize, kMaxBufferSize);
    n.sendBufferSize = std::min(hello.receiveBufferSize, kMaxBufferSize);
    n.clientMaxMessageSize = hello.maxMessageSize;
    n.clientMaxChunkCount = hello.maxChunkCount;
    return n;
}

namespace {

void Header(Writer& w, const char* type)
{
    w.Raw(std::string_view(type, 3));
    w.Byte('F');
    w.UInt32(0); // patched once the size is known
}

std::string Finish(Writer& w)
{
    w.PatchUInt32(4, static_cast<uint32_t>(w.Size()));
    return std::move(w.Bytes());
}

} // namespace

std::string BuildAck(const Negotiated& n)
{
    Writer w;
    Header(w, "ACK");
    w.UInt32(0);
    w.UInt32(n.receiveBufferSize);
    w.UInt32(n.sendBufferSize);
    w.UInt32(kMaxRequestMessageSize);
    w.UInt32(0); // the message size already bounds the chunk count
    return Finish(w);
}

std::string BuildError(uint32_t status, std::string_view reason)
{
    Writer w;
    Header(w, "ERR");
    w.UInt32(status);
    w.String(reason.substr(0, kMaxUrlBytes));
    return Finish(w);
}

void ChunkStream::Append(const char* data, size_t size)
{
    buffer_.erase(0, start_);
    start_ = 0;
    if (size != 0)
        buffer_.append(data, size);
}

bool ChunkStream::HasChunk(uint32_t maxChunkSize) const
{
    size_t available = buffer_.size() - start_;
    if (available < kChunkHeaderSize)
        return false;
    uint32_t size = ParseChunkHeader(std::string_view(buffer_).substr(start_, kChunkHeaderSize)).messageSize;
    return size < kChunkHeaderSize || size > maxChunkSize || available >= size;
}

ChunkStream::Result ChunkStream::Next(uint32_t maxChunkSize, std::string& chunk)
{
    size_t available = buffer_.size() - start_;
    if (available < kChunkHeaderSize)
        return Result::NeedMore;
    ChunkHeader h = ParseChunkHeader(std::string_view(buffer_).substr(start_, kChunkHeaderSize));
    if (h.messageSize < kChunkHeaderSize)
        return Result::Malformed;
    if (h.messageSize > maxChunkSize)
        return Result::TooLarge;
    if (available < h.messageSize)
        return Result::NeedMore;
    chunk.assign(buffer_, start_, h.messageSize);
    start_ += h.messageSize;
    return Result::Chunk;
}

} // namespace tagserve

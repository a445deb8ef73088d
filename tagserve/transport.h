// UA-TCP framing: the 8-byte chunk header, HEL/ACK/ERR, and cutting a byte
// stream into whole chunks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tagserve {

constexpr size_t kChunkHeaderSize = 8;
constexpr uint32_t kMinBufferSize = 8192;
constexpr uint32_t kMaxBufferSize = 65536;
constexpr uint32_t kMaxRequestMessageSize = 4u << 20;
// The largest response we build, whatever the client accepts: one Browse of
// many large folders must not hold hundreds of megabytes per connection.
constexpr uint32_t kMaxResponseMessageSize = 16u << 20;
constexpr size_t kMaxUrlBytes = 4096;

struct ChunkHeader {
    std::string_view messageType; // "HEL", "OPN", "MSG", ...
    char chunkType = 0;           // 'F', 'C' or 'A'
    uint32_t messageSize = 0;
};

// Reads the header of a chunk that holds at least kChunkHeaderSize bytes.
ChunkHeader ParseChunkHeader(std::string_view chunk);

struct Hello {
    uint32_t protocolVersion = 0;
    uint32_t receiveBufferSize = 0;
    uint32_t sendBufferSize = 0;
    uint32_t maxMessageSize = 0;
    uint32_t maxChunkCount = 0;
    std::string endpointUrl;
};

// Decodes a whole HEL chunk; throws DecodeError.
Hello ParseHello(std::string_view chunk);

// What the server answers to a HEL: the sizes both sides then keep to.
struct Negotiated {
    uint32_t receiveBufferSize = kMaxBufferSize; // largest chunk we accept
    uint32_t sendBufferSize = kMaxBufferSize;    // largest chunk we send
    uint32_t clientMaxMessageSize = 0;           // 0 = no limit
    uint32_t clientMaxChunkCount = 0;            // 0 = no limit
};

Negotiated Negotiate(const Hello& hello);
std::string BuildAck(const Negotiated& n);
std::string BuildError(uint32_t status, std::string_view reason);

// Collects received bytes and hands them out as whole chunks.
class ChunkStream {
public:
    enum class Result { NeedMore, Chunk, TooLarge, Malformed };

    // Drops the chunks already taken first, so the buffer holds only what is
    // unread plus these bytes, however the client's requests fall into reads.
    void Append(const char* data, size_t size);
    // Takes the next whole chunk out of the buffer. The size in the header is
    // checked against maxChunkSize before the chunk's bytes are awaited.
    Result Next(uint32_t maxChunkSize, std::string& chunk);
    // True when Next would give more than NeedMore.
    bool HasChunk(uint32_t maxChunkSize) const;
    // Bytes held, taken chunks included until the next Append.
    size_t Buffered() const { return buffer_.size(); }

private:
    std::string buffer_;
    size_t start_ = 0;
};

} // namespace tagserve

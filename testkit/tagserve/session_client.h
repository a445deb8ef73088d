// A blocking OPC UA client over a loopback socket: one channel, one session.
// Header-only, for the entry-point tests and the benchmark.
#pragma once

#include "testkit/tagserve/client_kit.h"

#include <netinet/tcp.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace tagserve::test {

struct Answer {
    uint32_t requestId = 0;
    uint32_t type = 0;
    uint32_t serviceResult = 0;
    std::string body; // after the ResponseHeader
};

class SessionClient {
public:
    explicit SessionClient(int port)
    {
        for (int attempt = 0; attempt < 200 && fd_ < 0; ++attempt) {
            int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                fd_ = fd;
                break;
            }
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (fd_ < 0)
            throw std::runtime_error("cannot connect");
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        SendAll(HelloChunk("opc.tcp://127.0.0.1:" + std::to_string(port)));
        ReadChunk();
        Open();
    }
    ~SessionClient() { ::close(fd_); }

    // Sends a request and waits for its response.
    Answer Call(uint32_t type, const std::function<void(Writer&)>& body)
    {
        uint32_t id = Request(type, body);
        for (;;) {
            Answer a = ReadMessage();
            if (a.requestId == id)
                return a;
        }
    }

    uint32_t Request(uint32_t type, const std::function<void(Writer&)>& body)
    {
        Writer w;
        w.WriteNodeId(NodeId(0, type));
        WriteRequestHeader(w, token_, ++handle_);
        body(w);
        uint32_t id = ++requestId_;
        constexpr size_t perChunk = 65536 - 24;
        const std::string& b = w.Bytes();
        for (size_t at = 0; at < b.size(); at += perChunk) {
            std::string part = b.substr(at, perChunk);
            Writer c;
            c.Raw("MSG");
            c.Byte(at + perChunk >= b.size() ? 'F' : 'C');
            c.UInt32(static_cast<uint32_t>(24 + part.size()));
            c.UInt32(channel_);
            c.UInt32(tokenId_);
            c.UInt32(++sequence_);
            c.UInt32(id);
            c.Raw(part);
            SendAll(c.Bytes());
        }
        return id;
    }

    // The next whole response.
    Answer ReadMessage()
    {
        std::string whole;
        for (;;) {
            std::string chunk = ReadChunk();
            Reader r(chunk);
            r.Skip(3);
            char type = static_cast<char>(r.Byte());
            r.Skip(4 + 4 + 4 + 4);
            uint32_t requestId = r.UInt32();
            whole.append(r.Rest());
            if (type != 'F')
                continue;
            Reader b(whole);
            Answer a;
            a.requestId = requestId;
            a.type = b.ReadNodeId().numeric;
            b.Int64();
            b.UInt32();
            a.serviceResult = b.UInt32();
            b.ReadDiagnosticInfo();
            b.StringArray();
            b.ReadExtensionObject();
            a.body = std::string(b.Rest());
            return a;
        }
    }

    // CreateSession, then ActivateSession with the identity; returns the first status that is not Good.
    uint32_t Session(const ExtensionObject& identity)
    {
        Answer created = Call(msg::CreateSessionRequest, [](Writer& w) { WriteCreateSessionBody(w, "", 600000); });
        if (created.serviceResult != 0)
            return created.serviceResult;
        Reader r(created.body);
        r.ReadNodeId();
        token_ = r.ReadNodeId();
        return Call(msg::ActivateSessionRequest, [&](Writer& w) { WriteActivateSessionBody(w, identity); })
            .serviceResult;
    }

private:
    void SendAll(const std::string& bytes)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            at += static_cast<size_t>(n);
        }
    }

    void RecvExactly(char* out, size_t n)
    {
        size_t at = 0;
        while (at < n) {
            ssize_t got = ::recv(fd_, out + at, n - at, 0);
            if (got <= 0)
                throw std::runtime_error("connection closed");
            at += static_cast<size_t>(got);
        }
    }

    std::string ReadChunk()
    {
        std::string chunk(8, '\0');
        RecvExactly(chunk.data(), 8);
        Reader h(chunk.data() + 4, 4);
        uint32_t size = h.UInt32();
        chunk.resize(size);
        RecvExactly(chunk.data() + 8, size - 8);
        if (chunk.compare(0, 3, "ERR") == 0)
            throw std::runtime_error("server sent ERR");
        return chunk;
    }

    void Open()
    {
        SendAll(OpenChunk(++sequence_, ++requestId_));
        std::string reply = ReadChunk();
        Reader r(reply);
        r.Skip(8);
        channel_ = r.UInt32();
        r.String();
        r.ByteString();
        r.ByteString();
        r.Skip(8);
        r.ReadNodeId();
        r.Skip(8 + 4 + 4);
        r.ReadDiagnosticInfo();
        r.StringArray();
        r.ReadExtensionObject();
        r.UInt32();
        r.UInt32();
        tokenId_ = r.UInt32();
    }

    int fd_ = -1;
    uint32_t channel_ = 0, tokenId_ = 0, sequence_ = 0, requestId_ = 0, handle_ = 0;
    NodeId token_;
};

} // namespace tagserve::test

#include "daemon/httpexchange.h"

#include "daemon/httpanswersession.h"
#include "daemon/httphandler.h"

#include <Poco/Net/HTTPChunkedStream.h>
#include <Poco/Net/HTTPFixedLengthStream.h>
#include <Poco/Net/HTTPHeaderStream.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/HTTPServerSession.h>
#include <Poco/Net/HTTPStream.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>
#include <Poco/Timestamp.h>

#include <memory>
#include <sstream>

namespace gw {

namespace {

// A request whose head and body are already in memory.
class TReadRequest final : public Poco::Net::HTTPServerRequest {
public:
    TReadRequest(const THttpConnection& connection, const Poco::Net::HTTPServerParams::Ptr& params,
                 Poco::Net::HTTPServerResponse& response)
        : body_(connection.Reader.Body()), client_(connection.Peer), server_(connection.Socket.address()),
          params_(params), response_(response)
    {
        std::istringstream head(connection.Reader.Head());
        read(head);
    }

    std::istream& stream() override { return body_; }
    const Poco::Net::SocketAddress& clientAddress() const override { return client_; }
    const Poco::Net::SocketAddress& serverAddress() const override { return server_; }
    const Poco::Net::HTTPServerParams& serverParams() const override { return *params_; }
    Poco::Net::HTTPServerResponse& response() const override { return response_; }
    bool secure() const override { return false; }

private:
    std::istringstream body_;
    const Poco::Net::SocketAddress client_;
    const Poco::Net::SocketAddress server_;
    Poco::Net::HTTPServerParams::Ptr params_;
    Poco::Net::HTTPServerResponse& response_;
};

// An answer written to the client's connection; to a HEAD request without
// its body.
class TWriteResponse final : public Poco::Net::HTTPServerResponse {
public:
    explicit TWriteResponse(Poco::Net::HTTPServerSession& session) : session_(session) {}

    void SetHeadOnly(bool headOnly) { headOnly_ = headOnly; }

    void sendContinue() override
    {
        Poco::Net::HTTPHeaderOutputStream out(session_);
        out << getVersion() << " 100 Continue\r\n\r\n";
    }

    std::ostream& send() override
    {
        const bool untilClose = !headOnly_ && !getChunkedTransferEncoding() && !hasContentLength();
        if (untilClose)
            setKeepAlive(false); // the end of the body is the end of the connection
        WriteHead();
        if (headOnly_)
            stream_ = std::make_unique<Poco::Net::HTTPHeaderOutputStream>(session_);
        else if (getChunkedTransferEncoding())
            stream_ = std::make_unique<Poco::Net::HTTPChunkedOutputStream>(session_);
        else if (hasContentLength())
            stream_ = std::make_unique<Poco::Net::HTTPFixedLengthOutputStream>(session_, getContentLength64());
        else
            stream_ = std::make_unique<Poco::Net::HTTPOutputStream>(session_);
        return *stream_;
    }

    // Head and body leave in one write: two small writes would wait for the
    // client's delayed acknowledgement of the first.
    void sendBuffer(const void* buffer, std::size_t length) override
    {
        setContentLength64(static_cast<Poco::UInt64>(length));
        setChunkedTransferEncoding(false);
        stream_ = std::make_unique<Poco::Net::HTTPHeaderOutputStream>(session_);
        write(*stream_);
        if (!headOnly_)
            stream_->write(static_cast<const char*>(buffer), static_cast<std::streamsize>(length));
        stream_->flush();
    }

    void sendFile(const std::string& path, const std::string& mediaType) override
    {
        Poco::FileInputStream in(path);
        std::string bytes;
        Poco::StreamCopier::copyToString(in, bytes);
        setContentType(mediaType);
        sendBuffer(bytes.data(), bytes.size());
    }

    void redirect(const std::string& uri, HTTPStatus status) override
    {
        setContentLength(0);
        setChunkedTransferEncoding(false);
        setStatusAndReason(status);
        set("Location", uri);
        send();
    }

    void requireAuthentication(const std::string& realm) override
    {
        set("WWW-Authenticate", "Basic realm=\"" + realm + "\"");
        setStatusAndReason(HTTP_UNAUTHORIZED);
    }

    bool sent() const override { return stream_ != nullptr; }

private:
    void WriteHead()
    {
        Poco::Net::HTTPHeaderOutputStream head(session_);
        write(head); // sent as the stream ends
    }

    Poco::Net::HTTPServerSession& session_;
    bool headOnly_ = false;
    std::unique_ptr<std::ostream> stream_;
};

bool Answer(const TSubj104Serv_ext& handler, THttpConnection& connection,
            const Poco::Net::HTTPServerParams::Ptr& params, Poco::Net::HTTPServerSession& session)
{
    TWriteResponse response(session);
    TReadRequest request(connection, params, response);
    response.SetHeadOnly(request.getMethod() == Poco::Net::HTTPRequest::HTTP_HEAD);
    response.setDate(Poco::Timestamp());
    response.setVersion(request.getVersion());
    const bool keepAlive = request.getKeepAlive() && !connection.Reader.BodyLeftUnread();
    response.setKeepAlive(keepAlive);
    handler.HTTPCommandGet(request, response);
    return keepAlive && response.getKeepAlive() && response.sent();
}

} // namespace

THttpAnswer ServeRequest(const TSubj104Serv_ext& handler, THttpConnection& connection,
                         const Poco::Net::HTTPServerParams::Ptr& params)
{
    THttpAnswerSession session(connection.Socket, params);
    THttpAnswer answer;
    try {
        answer.KeepAlive = Answer(handler, connection, params, session);
    } catch (const std::exception&) {
        answer.KeepAlive = false; // its head did not parse the second time: what was made is sent, then the end
    }
    answer.Bytes = std::move(session.Answer());
    connection.Socket = session.detachSocket();
    return answer;
}

} // namespace gw

#include "desktop/http_transfer.h"

#include "core/cp1251.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

#include <sstream>

namespace gw::desktop {

using Poco::Net::HTTPClientSession;
using Poco::Net::HTTPRequest;
using Poco::Net::HTTPResponse;

std::string BasicAuthorization(const std::string& password)
{
    std::ostringstream encoded;
    Poco::Base64Encoder encoder(encoded);
    encoder << ":" << Utf8ToCp1251(password);
    encoder.close();
    // The encoder breaks long output into lines; a header value is one line.
    std::string value = encoded.str();
    std::erase(value, '\r');
    std::erase(value, '\n');
    return "Basic " + value;
}

std::string TPocoHttpTransfer::Get(const std::string& host, int port, const std::string& file,
                                   const std::string& password)
{
    return Request(HTTPRequest::HTTP_GET, host, port, file, nullptr, password);
}

void TPocoHttpTransfer::Post(const std::string& host, int port, const std::string& file, const std::string& body,
                             const std::string& password)
{
    Request(HTTPRequest::HTTP_POST, host, port, file, &body, password);
}

std::string TPocoHttpTransfer::Request(const std::string& method, const std::string& host, int port,
                                       const std::string& file, const std::string* body, const std::string& password)
{
    try {
        if (port < 1 || port > 65535)
            throw TTransferError("port " + std::to_string(port) + " is no TCP port");
        HTTPClientSession session(host, static_cast<Poco::UInt16>(port));
        session.setTimeout(Poco::Timespan(timeoutSeconds_, 0));
        HTTPRequest request(method, "/" + file, HTTPRequest::HTTP_1_1);
        request.set("Authorization", BasicAuthorization(password));
        request.setContentType("text/html; charset=ISO-8859-1");
        if (body)
            request.setContentLength(static_cast<std::streamsize>(body->size()));
        std::ostream& out = session.sendRequest(request);
        if (body)
            out.write(body->data(), static_cast<std::streamsize>(body->size()));
        HTTPResponse response;
        std::istream& in = session.receiveResponse(response);
        std::string answer;
        Poco::StreamCopier::copyToString(in, answer);
        if (response.getStatus() < 200 || response.getStatus() > 299)
            throw TTransferError("HTTP/1.1 " + std::to_string(response.getStatus()) + " " + response.getReason());
        return answer;
    } catch (const Poco::Exception& e) {
        throw TTransferError(e.displayText());
    }
}

} // namespace gw::desktop

#include "desktop/http_transfer.h"

#include "core/cp1251.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/MediaType.h>
#include <Poco/StreamCopier.h>

#include <cstdint>
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
    return Request(HTTPRequest::HTTP_GET, host, port, file, nullptr, password, "application/octet-stream");
}

void TPocoHttpTransfer::Post(const std::string& host, int port, const std::string& file, const std::string& body,
                             const std::string& password)
{
    Request(HTTPRequest::HTTP_POST, host, port, file, &body, password, "");
}

namespace {

// The client's stream ends quietly where the connection did: a body shorter
// than its announced length is a transfer cut short, not a smaller file.
void CheckWhole(const HTTPResponse& response, const std::string& answer)
{
    if (!response.hasContentLength())
        return;
    const auto announced = static_cast<std::uint64_t>(response.getContentLength64());
    if (answer.size() != announced)
        throw TTransferError("the answer was cut short: " + std::to_string(answer.size()) + " of "
                             + std::to_string(announced) + " bytes");
}

// A device sends its files as files; a page of whatever else answers at that
// address is not one.
void CheckType(const HTTPResponse& response, const std::string& wanted)
{
    if (wanted.empty())
        return;
    const std::string type = response.getContentType();
    if (!Poco::Net::MediaType(type).matches(Poco::Net::MediaType(wanted)))
        throw TTransferError("the answer is no configuration file: " + (type.empty() ? "no type" : type));
}

} // namespace

std::string TPocoHttpTransfer::Request(const std::string& method, const std::string& host, int port,
                                       const std::string& file, const std::string* body, const std::string& password,
                                       const std::string& fileType)
{
    try {
        if (port < 1 || port > 65535)
            throw TTransferError("port " + std::to_string(port) + " is no TCP port");
        HTTPClientSession session(host, static_cast<Poco::UInt16>(port));
        session.setTimeout(Poco::Timespan(std::chrono::microseconds(timeout_).count()));
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
        CheckWhole(response, answer);
        CheckType(response, fileType);
        return answer;
    } catch (const Poco::Exception& e) {
        throw TTransferError(e.displayText());
    }
}

} // namespace gw::desktop

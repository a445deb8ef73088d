#include "testkit/http_request.h"

#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

namespace gw::test {

std::optional<Answer> Request(int port, const std::string& method, const std::string& path, const std::string& password,
                              const std::string& body)
{
    try {
        Poco::Net::HTTPClientSession session("127.0.0.1", static_cast<Poco::UInt16>(port));
        session.setTimeout(Poco::Timespan(10, 0));
        Poco::Net::HTTPRequest request(method, path, Poco::Net::HTTPMessage::HTTP_1_1);
        if (!password.empty())
            Poco::Net::HTTPBasicCredentials("", password).authenticate(request);
        request.setContentLength(static_cast<std::streamsize>(body.size()));
        session.sendRequest(request) << body;
        Poco::Net::HTTPResponse response;
        std::istream& in = session.receiveResponse(response);
        Answer answer;
        answer.status = response.getStatus();
        Poco::StreamCopier::copyToString(in, answer.body);
        return answer;
    } catch (const Poco::Exception&) {
        return std::nullopt;
    }
}

} // namespace gw::test

#pragma once
// The session an answer is made through: what the handler writes goes to
// memory, and the gate writes it to the client as the client takes it. A
// handler thread so never waits for a client that reads slowly or not at all.

#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerSession.h>
#include <Poco/Net/StreamSocket.h>

#include <ios>
#include <string>

namespace gw {

class THttpAnswerSession final : public Poco::Net::HTTPServerSession {
public:
    THttpAnswerSession(const Poco::Net::StreamSocket& socket, const Poco::Net::HTTPServerParams::Ptr& params);

    // The bytes of the answer so far.
    std::string& Answer() { return answer_; }

protected:
    int write(const char* buffer, std::streamsize length) override;

private:
    std::string answer_;
};

} // namespace gw

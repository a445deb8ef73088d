#include "daemon/httpanswersession.h"

namespace gw {

THttpAnswerSession::THttpAnswerSession(const Poco::Net::StreamSocket& socket,
                                       const Poco::Net::HTTPServerParams::Ptr& params)
    : Poco::Net::HTTPServerSession(socket, params)
{
}

int THttpAnswerSession::write(const char* buffer, std::streamsize length)
{
    answer_.append(buffer, static_cast<std::size_t>(length));
    return static_cast<int>(length);
}

} // namespace gw

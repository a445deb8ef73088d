#pragma once
// A whole HTTP exchange with a local web server, as a browser has it.

#include <optional>
#include <string>

namespace gw::test {

struct Answer {
    int status = 0;
    std::string body;
};

// One HTTP request to 127.0.0.1:port, with Basic credentials of an empty
// user name when a password is given; nothing when no server answers.
std::optional<Answer> Request(int port, const std::string& method, const std::string& path,
                              const std::string& password = "", const std::string& body = "");

} // namespace gw::test

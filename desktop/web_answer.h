#pragma once
// How the desktop's web server answers what the page dispatcher gave: 404
// for nothing, image files sent from their path, HTML marked as
// Windows-1251. The configuration documents (their content is a local path)
// are refused: the desktop has no password check for them, and the path
// itself is nobody's business.

#include <string>

namespace gw::desktop {

struct TWebAnswer {
    int status = 404;
    std::string contentType;
    std::string cacheControl;
    std::string body;     // the text to send
    std::string filePath; // not empty: send this file instead
};

TWebAnswer DesktopWebAnswer(const std::string& contentType, const std::string& cacheControl,
                            const std::string& content);

// The port the web server listens on: the low 16 bits, as the service has
// it; 0 (which would mean any free port) means no server.
int WebServerPort(int Port_WebServ);

} // namespace gw::desktop

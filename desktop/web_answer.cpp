#include "desktop/web_answer.h"

namespace gw::desktop {

TWebAnswer DesktopWebAnswer(const std::string& contentType, const std::string& cacheControl, const std::string& content)
{
    TWebAnswer a;
    a.contentType = contentType;
    a.cacheControl = cacheControl;
    if (content.empty() || contentType == "application/octet-stream")
        return a;
    a.status = 200;
    if (contentType == "image/jpeg" || contentType == "image/gif" || contentType == "image/png") {
        a.filePath = content;
        return a;
    }
    if (contentType == "text/html")
        a.contentType = "text/html; charset=windows-1251";
    a.body = content;
    return a;
}

int WebServerPort(int Port_WebServ) { return Port_WebServ & 0xFFFF; }

} // namespace gw::desktop

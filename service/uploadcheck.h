#pragma once
// The check of an uploaded file before it replaces the stored one. "cnf.ini"
// and "iec104.cfg" are taken only as the service would read them whole: at
// start-up the readers skip what they cannot use, and a device whose new
// "cnf.ini" lost its web server line could no longer be reached to mend it.

#include <string>
#include <string_view>

namespace gw {

// "" when body may be stored as fileName (below the service directory);
// else one line naming the line of the file and what is wrong with it.
std::string UploadRefusal(std::string_view fileName, std::string_view body);

} // namespace gw

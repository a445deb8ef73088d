#pragma once
// The check of an uploaded file before it replaces the stored one. "cnf.ini"
// and "iec104.cfg" are taken only as the service would read them whole: at
// start-up the readers skip what they cannot use, and a device whose new
// "cnf.ini" lost its web server line could no longer be reached to mend it.
// Nor is a file taken that would leave the device without its stations (an
// "iec104.cfg" in which the reader finds none: a page of text, a file cut
// short before its first station) or locked (a "cnf.ini" without the
// transfer password refuses every later transfer). A text file holds no NUL
// byte; one that does is binary, or cut and padded.

#include <string>
#include <string_view>

namespace gw {

// "" when body may be stored as fileName (below the service directory);
// else one line naming the line of the file and what is wrong with it.
std::string UploadRefusal(std::string_view fileName, std::string_view body);

} // namespace gw

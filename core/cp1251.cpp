#include "core/cp1251.h"

#include <Poco/TextConverter.h>
#include <Poco/UTF8Encoding.h>
#include <Poco/Windows1251Encoding.h>

namespace gw {

namespace {

std::string Convert(Poco::TextEncoding& from, Poco::TextEncoding& to, std::string_view text)
{
    Poco::TextConverter converter(from, to, '?');
    std::string out;
    converter.convert(text.data(), static_cast<int>(text.size()), out);
    return out;
}

} // namespace

std::string Cp1251ToUtf8(std::string_view cp1251)
{
    Poco::Windows1251Encoding from;
    Poco::UTF8Encoding to;
    return Convert(from, to, cp1251);
}

std::string Utf8ToCp1251(std::string_view utf8)
{
    Poco::UTF8Encoding from;
    Poco::Windows1251Encoding to;
    return Convert(from, to, utf8);
}

} // namespace gw

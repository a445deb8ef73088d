#include "core/cp1251.h"

#include <Poco/TextConverter.h>
#include <Poco/UTF8Encoding.h>
#include <Poco/Windows1251Encoding.h>

namespace gw {

namespace {

// The one byte Windows-1251 leaves unassigned travels as U+0098, so that
// every file read and written back keeps its bytes.
constexpr char Unassigned = '\x98';
constexpr std::string_view UnassignedUtf8 = "\xC2\x98";

std::string Convert(Poco::TextEncoding& from, Poco::TextEncoding& to, std::string_view text)
{
    Poco::TextConverter converter(from, to, '?');
    std::string out;
    converter.convert(text.data(), static_cast<int>(text.size()), out);
    return out;
}

// Converts the pieces between the separators and joins them with the replacement.
template <class ConvertPiece>
std::string ConvertAround(std::string_view text, std::string_view separator, std::string_view replacement,
                          ConvertPiece convertPiece)
{
    std::string out;
    for (;;) {
        const std::size_t at = text.find(separator);
        out += convertPiece(text.substr(0, at));
        if (at == std::string_view::npos)
            return out;
        out += replacement;
        text.remove_prefix(at + separator.size());
    }
}

} // namespace

std::string Cp1251ToUtf8(std::string_view cp1251)
{
    return ConvertAround(cp1251, std::string_view(&Unassigned, 1), UnassignedUtf8, [](std::string_view piece) {
        Poco::Windows1251Encoding from;
        Poco::UTF8Encoding to;
        return Convert(from, to, piece);
    });
}

std::string Utf8ToCp1251(std::string_view utf8)
{
    return ConvertAround(utf8, UnassignedUtf8, std::string_view(&Unassigned, 1), [](std::string_view piece) {
        Poco::UTF8Encoding from;
        Poco::Windows1251Encoding to;
        return Convert(from, to, piece);
    });
}

} // namespace gw

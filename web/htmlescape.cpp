#include "web/htmlescape.h"

namespace gw {

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string HtmlAttrValue(std::string_view text)
{
    // What ends or splits an unquoted attribute value (HTML's rule), and "&".
    const bool bare = !text.empty() && text.find_first_of(" \t\r\n\f\"'=<>`&") == std::string_view::npos;
    if (bare)
        return std::string(text);
    return '"' + HtmlEscape(text) + '"';
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::string> PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] != '%') {
            out += text[i];
        } else {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
    }
    return out;
}

} // namespace gw

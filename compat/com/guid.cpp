#include "compat/com/types.h"

#include <cstdio>

namespace com {

std::string GUID::toString() const
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Data1, Data2, Data3, Data4[0],
                  Data4[1], Data4[2], Data4[3], Data4[4], Data4[5], Data4[6], Data4[7]);
    return buf;
}

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at `pos`; false on anything else.
bool readHex(std::string_view text, std::size_t& pos, int digits, std::uint64_t& out)
{
    out = 0;
    for (int i = 0; i < digits; ++i, ++pos) {
        if (pos >= text.size())
            return false;
        const int d = hexDigit(text[pos]);
        if (d < 0)
            return false;
        out = out * 16 + static_cast<std::uint64_t>(d);
    }
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

} // namespace

std::optional<GUID> GUID::parse(std::string_view text)
{
    GUID g{};
    std::size_t pos = 0;
    std::uint64_t v = 0;
    if (!expect(text, pos, '{') || !readHex(text, pos, 8, v))
        return std::nullopt;
    g.Data1 = static_cast<std::uint32_t>(v);
    if (!expect(text, pos, '-') || !readHex(text, pos, 4, v))
        return std::nullopt;
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!expect(text, pos, '-') || !readHex(text, pos, 4, v))
        return std::nullopt;
    g.Data3 = static_cast<std::uint16_t>(v);
    if (!expect(text, pos, '-'))
        return std::nullopt;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !expect(text, pos, '-'))
            return std::nullopt;
        if (!readHex(text, pos, 2, v))
            return std::nullopt;
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    if (!expect(text, pos, '}') || pos != text.size())
        return std::nullopt;
    return g;
}

} // namespace com

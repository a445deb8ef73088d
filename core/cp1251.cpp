#include "core/cp1251.h"

#include <array>
#include <cstdint>

namespace gw {
namespace {

// Characters of the bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char16_t, 64> HighTable = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

char32_t ByteToChar(unsigned char b)
{
    if (b < 0x80)
        return b;
    if (b < 0xC0)
        return HighTable[b - 0x80];
    return char32_t{0x0410} + (b - 0xC0u);
}

// -1 when the code page has no byte for c.
int CharToByte(char32_t c)
{
    if (c < 0x80)
        return static_cast<int>(c);
    if (c >= 0x0410 && c <= 0x044F)
        return static_cast<int>(c - 0x0410 + 0xC0);
    for (std::size_t i = 0; i < HighTable.size(); ++i)
        if (HighTable[i] == c)
            return static_cast<int>(0x80 + i);
    return -1;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes the character at text[pos] and advances pos; false on malformed input.
bool NextChar(std::string_view text, std::size_t& pos, char32_t& c)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t len = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        c = lead;
        ++pos;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        len = 2, c = lead & 0x1Fu, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3, c = lead & 0x0Fu, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4, c = lead & 0x07u, min = 0x10000;
    } else {
        return false;
    }
    if (text.size() - pos < len)
        return false;
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(text[pos + i]);
        if ((b & 0xC0) != 0x80)
            return false;
        c = (c << 6) | (b & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    pos += len;
    return true;
}

} // namespace

std::string Cp1251ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char b : bytes)
        AppendUtf8(out, ByteToChar(static_cast<unsigned char>(b)));
    return out;
}

bool Utf8ToCp1251(std::string_view text, std::string& out)
{
    std::string bytes;
    bytes.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t c = 0;
        if (!NextChar(text, pos, c))
            return false;
        const int b = CharToByte(c);
        if (b < 0)
            return false;
        bytes += static_cast<char>(b);
    }
    out = std::move(bytes);
    return true;
}

bool IsValidUtf8(std::string_view text)
{
    std::size_t pos = 0;
    char32_t c = 0;
    while (pos < text.size())
        if (!NextChar(text, pos, c))
            return false;
    return true;
}

} // namespace gw

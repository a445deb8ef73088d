#include "opcda/wide.h"

namespace opcda {

namespace {

constexpr char32_t Replacement = 0xFFFD;

// One code point from utf8 at i; a broken sequence gives U+FFFD and moves one byte.
char32_t decodeOne(std::string_view s, std::size_t& i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t cp = 0;
    if (b < 0x80) {
        ++i;
        return b;
    }
    if ((b & 0xE0) == 0xC0) {
        extra = 1;
        cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2;
        cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3;
        cp = b & 0x07;
    } else {
        ++i;
        return Replacement;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size()) {
        ++i;
        return Replacement;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return Replacement;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    return cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? Replacement : cp;
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::u16string toWide(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = decodeOne(utf8, i);
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    return out;
}

std::string toUtf8(std::u16string_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t cp = wide[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = Replacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

} // namespace opcda

#include "opcua/uanames.h"

#include <cstdint>

namespace gw {

namespace {

// The Latin letter of each Cyrillic capital А..Я with Ё after Е, in that order.
constexpr std::string_view CyrillicLatin = "ABVGDEEGZIIKLMNOPRSTYFHCCSSIIIEUA";
constexpr std::string_view Punctuation = " !@#$%^&*()-=+\\|/,<>?:;'\"`";

// The next code point of UTF-8 text; a malformed byte stands for itself.
char32_t NextCodePoint(std::string_view s, std::size_t& at)
{
    const auto b = static_cast<unsigned char>(s[at++]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (extra == 0 || at + static_cast<std::size_t>(extra) > s.size())
        return b;
    char32_t cp = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        const auto c = static_cast<unsigned char>(s[at + static_cast<std::size_t>(k)]);
        if ((c & 0xC0) != 0x80)
            return b;
        cp = (cp << 6) | (c & 0x3F);
    }
    at += static_cast<std::size_t>(extra);
    return cp;
}

// The place of a Cyrillic letter in А..Я (Ё after Е), -1 when it is none.
int CyrillicPlace(char32_t cp, bool& lower)
{
    lower = false;
    if (cp == U'Ё' || cp == U'ё') {
        lower = cp == U'ё';
        return 6;
    }
    if (cp >= U'а' && cp <= U'я') {
        lower = true;
        cp -= U'а' - U'А';
    }
    if (cp < U'А' || cp > U'Я')
        return -1;
    const int n = static_cast<int>(cp - U'А');
    return n >= 6 ? n + 1 : n; // past Е comes Ё
}

char Filtered(char32_t cp, bool keepDots)
{
    bool lower = false;
    const int place = CyrillicPlace(cp, lower);
    if (place >= 0) {
        const char latin = CyrillicLatin[static_cast<std::size_t>(place)];
        return lower ? static_cast<char>(latin - 'A' + 'a') : latin;
    }
    if (cp < 0x80 && Punctuation.find(static_cast<char>(cp)) != std::string_view::npos)
        return '_';
    if (cp == U'.' && !keepDots)
        return '_';
    if (cp > 0xFF)
        return '_';
    return static_cast<char>(static_cast<std::uint8_t>(cp));
}

} // namespace

std::string UaNameFilter(std::string_view name, bool keepDots)
{
    std::string out;
    std::size_t at = 0;
    while (at < name.size()) {
        const bool first = at == 0;
        const char32_t cp = NextCodePoint(name, at);
        out += first && cp >= U'0' && cp <= U'9' ? 'n' : Filtered(cp, keepDots);
    }
    return out;
}

} // namespace gw

#include "core/text.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <limits>

namespace gw {

namespace {

std::string_view TrimBlanks(std::string_view s)
{
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void NotANumber(std::string_view text, const char* what)
{
    throw EConvertError("'" + std::string(text) + "' is not a valid " + what);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

TSplitArray::TSplitArray(int size, char dev) : List(size > 0 ? size : 0), FSize(size > 0 ? size : 0), Fdev(dev) {}

void TSplitArray::SplitString(std::string_view strInp)
{
    for (auto& field : List)
        field.clear();
    nvar = 0;
    bool quoted = false;
    std::size_t first = 0; // of the field being collected, 0-based
    const std::size_t len = strInp.size();
    for (std::size_t pos = 0; pos < len && nvar < FSize; ++pos) {
        const char c = strInp[pos];
        if (c == '"')
            quoted = !quoted;
        const bool atSeparator = c == Fdev;
        if ((atSeparator || pos + 1 == len) && !quoted) {
            const std::size_t end = atSeparator ? pos : pos + 1;
            List[nvar++] = std::string(TrimBlanks(strInp.substr(first, end - first)));
            first = pos + 1;
        }
    }
}

std::string TSplitArray::GetField(int ind) const { return ind >= 0 && ind < nvar ? List[ind] : std::string(); }

std::int32_t ToInt(std::string_view text) { return text.empty() ? 0 : StrToInt(text); }

std::int32_t StrToInt(std::string_view text)
{
    std::string_view digits = text;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '+' || negative))
        digits.remove_prefix(1);
    if (digits.empty())
        NotANumber(text, "integer value");
    for (const char c : digits)
        if (!IsDigit(c))
            NotANumber(text, "integer value");
    std::int64_t magnitude = 0;
    const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (parsed.ec != std::errc() || value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max())
        NotANumber(text, "integer value");
    return static_cast<std::int32_t>(value);
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t def)
{
    try {
        return StrToInt(text);
    } catch (const EConvertError&) {
        return def;
    }
}

double ToFloat(std::string_view text, char sep)
{
    if (text.empty())
        return 0;
    const char d = sep != '_' ? sep : (text.find('.') != std::string_view::npos ? '.' : ',');
    // Only a sign, digits, the chosen separator and an exponent are numbers here.
    std::string plain;
    plain.reserve(text.size());
    bool digitSeen = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool signPlace = i == 0 || text[i - 1] == 'e' || text[i - 1] == 'E';
        if (IsDigit(c))
            digitSeen = true;
        else if (c == d)
            ; // becomes '.'
        else if ((c == '+' || c == '-') && signPlace)
            ;
        else if ((c == 'e' || c == 'E') && digitSeen)
            ;
        else
            NotANumber(text, "floating point value");
        if (c == '+' && i == 0)
            continue; // from_chars refuses a leading '+'
        plain += c == d ? '.' : c;
    }
    double value = 0;
    const char* end = plain.data() + plain.size();
    const auto [ptr, ec] = std::from_chars(plain.data(), end, value, std::chars_format::general);
    if (!digitSeen || ec != std::errc() || ptr != end || !std::isfinite(value))
        NotANumber(text, "floating point value");
    return value;
}

std::string DelQuotes(std::string_view text)
{
    if (text.size() > 1 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

std::string BufToHex(std::span<const std::uint8_t> buf, std::size_t count, std::string_view prefix)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    if (count > buf.size())
        count = buf.size();
    std::string result(prefix);
    result.reserve(prefix.size() + count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        result += digits[buf[i] >> 4];
        result += digits[buf[i] & 0x0F];
        result += ' ';
    }
    return result;
}

std::string FloatToText(double v)
{
    if (std::isnan(v))
        return "NAN";
    if (std::isinf(v))
        return v < 0 ? "-INF" : "INF";
    if (v == 0)
        return "0";
    // 15 significant digits, rounded once: d.dddddddddddddde[+-]x
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    std::string_view s = buf;
    std::string out;
    if (s.front() == '-') {
        out = "-";
        s.remove_prefix(1);
    }
    const std::size_t e = s.find('e');
    std::string digits = std::string(1, s[0]) + std::string(s.substr(2, e - 2));
    const int exp = std::atoi(std::string(s.substr(e + 1)).c_str());
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    if (exp >= -5 && exp < 15) {
        if (exp < 0)
            return out + "0." + std::string(static_cast<std::size_t>(-exp - 1), '0') + digits;
        const auto intDigits = static_cast<std::size_t>(exp) + 1;
        if (digits.size() <= intDigits)
            return out + digits + std::string(intDigits - digits.size(), '0');
        return out + digits.substr(0, intDigits) + "." + digits.substr(intDigits);
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) {
        out += '.';
        out.append(digits, 1); // not "." + substr: GCC 12 at -O3 warns falsely (-Wrestrict) about that
    }
    return out + "E" + std::to_string(exp);
}

} // namespace gw

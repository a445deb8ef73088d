#include "service/ipv4.h"

namespace gw {

std::optional<TIPv4> ParseIPv4(std::string_view text)
{
    TIPv4 out{};
    std::size_t pos = 0;
    for (std::size_t octet = 0; octet < out.size(); ++octet) {
        if (octet > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        out[octet] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size())
        return std::nullopt;
    return out;
}

} // namespace gw

#pragma once
// IPv4 addresses as the configuration writes them: strict dotted decimal,
// four octets of one to three decimal digits each. A zero-padded octet
// ("010") is ten, never octal as the C library's parser would read it, and
// host names, short forms ("127.1") and blanks are refused.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace gw {

using TIPv4 = std::array<std::uint8_t, 4>;

std::optional<TIPv4> ParseIPv4(std::string_view text);

} // namespace gw

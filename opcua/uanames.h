#pragma once
// Names handed to the OPC UA library: Latin letters only, one byte per
// character, as the library takes them.

#include <string>
#include <string_view>

namespace gw {

// The name (UTF-8) with a leading digit replaced by "n", Cyrillic letters
// transliterated, and blanks and punctuation turned into "_" (the full stop
// too, unless keepDots). The result holds one byte per character: what is
// left beyond U+00FF, which no byte can hold, becomes "_" as well.
std::string UaNameFilter(std::string_view name, bool keepDots);

} // namespace gw

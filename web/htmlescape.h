#pragma once
// Names and texts from the configuration go into the pages escaped, so a
// name cannot break the markup. Plain names come out unchanged.

#include <optional>
#include <string>
#include <string_view>

namespace gw {

// & < > " ' as character references; every other byte as it is.
std::string HtmlEscape(std::string_view text);

// An attribute value written after "value = ": the bare text when it needs
// no quotes, else escaped inside double quotes.
std::string HtmlAttrValue(std::string_view text);

// %XX escapes and '+' of a query string decoded; none on a bad escape.
std::optional<std::string> PercentDecode(std::string_view text);

} // namespace gw

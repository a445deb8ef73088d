#pragma once
// Windows-1251 at the boundary: files, pages and the fixed strings of
// "iec104sr.bin" carry it, the program's strings are UTF-8.

#include <string>
#include <string_view>

namespace gw {

std::string Cp1251ToUtf8(std::string_view cp1251);
// Characters Windows-1251 lacks become '?'.
std::string Utf8ToCp1251(std::string_view utf8);

} // namespace gw

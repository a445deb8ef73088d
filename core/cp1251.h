#pragma once
// Windows-1251 at the file boundary, UTF-8 inside the program.
// Every one of the 256 bytes has its own character (0x98, which the code page
// leaves unassigned, becomes U+0098), so a file read and written back comes
// out byte for byte the same.

#include <string>
#include <string_view>

namespace gw {

std::string Cp1251ToUtf8(std::string_view bytes);

// False when text is not valid UTF-8 or holds a character that Windows-1251
// cannot hold; out is left untouched then.
bool Utf8ToCp1251(std::string_view text, std::string& out);

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

} // namespace gw

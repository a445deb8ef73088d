#pragma once
// The program's strings are UTF-8; the interfaces speak UTF-16.

#include "compat/com/types.h"

#include <string>
#include <string_view>

namespace opcda {

std::u16string toWide(std::string_view utf8);
std::string toUtf8(std::u16string_view wide);
// A client's string, null read as empty.
inline std::u16string fromClient(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

} // namespace opcda

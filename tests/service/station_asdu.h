#pragma once
// ASDUs as a test station sends them: cause 3 (spontaneous), common address
// 1, three-byte object address.

#include "service/service_fixture.h"

#include <cstring>

namespace gw::test {

inline TBytes Asdu(int type, int ioa, const TBytes& element)
{
    TBytes a{static_cast<std::uint8_t>(type), 0x01, 0x03, 0x00, 0x01, 0x00, static_cast<std::uint8_t>(ioa),
             static_cast<std::uint8_t>(ioa >> 8), static_cast<std::uint8_t>(ioa >> 16)};
    a.insert(a.end(), element.begin(), element.end());
    return a;
}

// A short float element with its quality descriptor.
inline TBytes Float(float v, std::uint8_t qds)
{
    TBytes b(4);
    std::memcpy(b.data(), &v, 4);
    b.push_back(qds);
    return b;
}

} // namespace gw::test

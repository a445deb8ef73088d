#pragma once
// ASDUs as a test station sends them: cause 3 (spontaneous), common address
// 1, three-byte object address.

#include "service/service_fixture.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace gw::test {

inline TBytes Asdu(int type, int ioa, const TBytes& element)
{
    // clang-format off
    const std::uint8_t head[] = {static_cast<std::uint8_t>(type),      0x01, 0x03, 0x00, 0x01, 0x00,
                                 static_cast<std::uint8_t>(ioa), static_cast<std::uint8_t>(ioa >> 8),
                                 static_cast<std::uint8_t>(ioa >> 16)};
    // clang-format on
    // Copied into its full size: GCC 12 at -O3 warns falsely (-Warray-bounds)
    // about inserting into a vector that must grow for it.
    TBytes a(sizeof head + element.size());
    std::copy(std::begin(head), std::end(head), a.begin());
    std::copy(element.begin(), element.end(), a.begin() + sizeof head);
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

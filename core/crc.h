#pragma once
// The additive checksum of "iec104sr.bin": a plain 32-bit sum of integers,
// and of bytes with the sum folded by 0x0FFFFFFF whenever it grows past it.

#include <cstdint>
#include <span>

namespace gw {

class TCrcCheck {
public:
    void Clear() { FCRC = 0; }
    // Two's-complement addition, no folding.
    void Add(std::int32_t value);
    // Each byte unsigned; after each one a sum above 0x0FFFFFFF loses 0x0FFFFFFF.
    void Add(std::span<const std::uint8_t> buf);
    std::int32_t Value() const { return FCRC; }

private:
    std::int32_t FCRC = 0;
};

} // namespace gw

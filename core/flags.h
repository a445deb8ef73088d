#pragma once
// 32-bit flag words addressed by bit number. The link objects, commands,
// stations and signal records keep their state in them; each owner gives its
// bits an enumeration and reaches them through `Op`.

#include <concepts>
#include <cstdint>
#include <string>

namespace gw {

enum class TFlagOperation { FSet, FClear, FYes, FNo, FClearAll };

class TFLAG {
public:
    explicit TFLAG(std::uint32_t afln = 0) : fln(afln) {}

    // FSet, FClear and FClearAll change the word and return false; FYes and
    // FNo tell whether the bit (taken modulo 32) is set or clear. Inline:
    // the link asks several flags for every frame.
    bool Operation(TFlagOperation opName, int bit)
    {
        const std::uint32_t mask = 1u << (static_cast<unsigned>(bit) & 31u);
        switch (opName) {
        case TFlagOperation::FSet: fln |= mask; return false;
        case TFlagOperation::FClear: fln &= ~mask; return false;
        case TFlagOperation::FClearAll: fln = 0; return false;
        case TFlagOperation::FYes: return (fln & mask) != 0;
        case TFlagOperation::FNo: return (fln & mask) == 0;
        }
        return false;
    }
    void Reset() { fln = 0; }

    std::uint32_t Flags() const { return fln; }
    void SetFlags(std::uint32_t value) { fln = value; }

    // "(0105h)": at least four upper-case hex digits, for trace lines.
    std::string ToString() const;

protected:
    std::uint32_t fln;
};

// A flag word whose bits are named by the enumeration Bits.
template <class Bits>
class TFlagOf : public TFLAG {
public:
    using TFLAG::TFLAG;
    bool Op(TFlagOperation opName, Bits bit) { return Operation(opName, static_cast<int>(bit)); }
};

// The mask of the named bits, for a flag word built or tested whole.
template <class Bits, std::same_as<Bits>... More>
constexpr std::uint32_t FlagMask(Bits bit, More... more)
{
    return ((1u << static_cast<unsigned>(bit)) | ... | (1u << static_cast<unsigned>(more)));
}

template <std::integral V, std::integral M>
constexpr bool FlagYes(V value, M mask)
{
    return (value & mask) != 0;
}

template <std::integral V, std::integral M>
constexpr bool FlagNo(V value, M mask)
{
    return (value & mask) == 0;
}

template <std::integral V, std::integral M>
constexpr void FlagSet(V& value, M mask)
{
    value = static_cast<V>(value | mask);
}

constexpr void FlagSetByte(std::uint8_t& value, std::uint8_t mask) { FlagSet(value, mask); }

template <std::integral V, std::integral M>
constexpr void FlagClear(V& value, M mask)
{
    value = static_cast<V>(value & ~mask);
}

} // namespace gw

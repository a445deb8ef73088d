#pragma once
// The reference ASDUs of tests/data/asdu-reference.tsv, encoded by an
// independent IEC 104 implementation: name, field widths, bytes, meaning.

#include "core/asdu_layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gw::test {

struct TAsduVector {
    std::string name;   // "M_SP_NA_1", "C_SC_NA_1 select", ...
    TAsduLayout layout; // from the "2/2/3" column
    std::vector<std::uint8_t> bytes;
    std::string meaning;
};

std::vector<TAsduVector> LoadAsduVectors();
// The row of that name; fails the test when it is missing.
const TAsduVector& AsduVector(const std::string& name);

// Hex text ("68 04 07") to bytes and back ("68 04 07", upper case).
std::vector<std::uint8_t> HexBytes(const std::string& hex);
std::string HexText(const std::uint8_t* p, std::size_t n);

} // namespace gw::test

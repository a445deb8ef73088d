#include "support/asdu_vectors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace gw::test {

std::vector<std::uint8_t> HexBytes(const std::string& hex)
{
    std::vector<std::uint8_t> out;
    std::istringstream in(hex);
    std::string byte;
    while (in >> byte)
        out.push_back(static_cast<std::uint8_t>(std::stoi(byte, nullptr, 16)));
    return out;
}

std::string HexText(const std::uint8_t* p, std::size_t n)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

std::vector<TAsduVector> LoadAsduVectors()
{
    std::ifstream in(GATEWAY_SOURCE_DIR "/tests/data/asdu-reference.tsv");
    if (!in)
        throw std::runtime_error("tests/data/asdu-reference.tsv missing");
    std::vector<TAsduVector> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        TAsduVector v;
        std::string widths, hex;
        std::getline(fields, v.name, '\t');
        std::getline(fields, widths, '\t');
        std::getline(fields, hex, '\t');
        std::getline(fields, v.meaning);
        int cot = 0, ca = 0, ioa = 0;
        if (std::sscanf(widths.c_str(), "%d/%d/%d", &cot, &ca, &ioa) != 3)
            throw std::runtime_error("bad widths in row " + v.name);
        v.layout = TAsduLayout::Make(cot, ca, ioa);
        v.bytes = HexBytes(hex);
        rows.push_back(std::move(v));
    }
    return rows;
}

const TAsduVector& AsduVector(const std::string& name)
{
    static const std::vector<TAsduVector> rows = LoadAsduVectors();
    for (const auto& r : rows)
        if (r.name == name)
            return r;
    ADD_FAILURE() << "no reference row " << name;
    throw std::runtime_error("no reference row " + name);
}

} // namespace gw::test

#pragma once
// The table of numbered error texts of the core.

#include <cstdint>
#include <string>
#include <vector>

namespace gw {

class TErrLstArm {
public:
    TErrLstArm();

    // "1001: <text>"; for a code not in the table the text of 1008 alone.
    std::string GetMess(std::int16_t code) const;
    // GetMess(code), a carriage return, then text.
    std::string GetMess(std::int16_t code, const std::string& text) const;
    int Count() const { return static_cast<int>(Code.size()); }

private:
    std::vector<std::int16_t> Code;
    std::vector<std::string> mess;
};

} // namespace gw

#pragma once
// The lines of "log_service.txt" in a service directory, each without its
// line feed; none when the file does not exist.

#include "daemon/serviceevents.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace gw::test {

inline std::vector<std::string> EventLines(const std::string& dir)
{
    std::ifstream in(std::filesystem::path(dir) / ServiceEventsFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        lines.push_back(text.substr(from, end - from));
    if (from != text.size())
        lines.push_back(text.substr(from) + " (no line feed)");
    return lines;
}

} // namespace gw::test

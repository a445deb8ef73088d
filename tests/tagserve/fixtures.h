// The captured client exchanges of tests/data/opcua/ as lists of chunks.
#pragma once

#include <string>
#include <vector>

namespace tagserve::test {

struct TracedChunk {
    int connection = 0;
    bool fromClient = false;
    std::string bytes;
};

std::string FromHex(const std::string& hex);
std::vector<TracedChunk> LoadTrace(const std::string& name); // e.g. "anon"
std::vector<std::string> TraceNames();

} // namespace tagserve::test

#include "fixtures.h"

#include <fstream>
#include <stdexcept>

namespace tagserve::test {

std::string FromHex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

namespace {

std::string Field(const std::string& line, const std::string& key)
{
    std::string tag = "\"" + key + "\":";
    size_t at = line.find(tag);
    if (at == std::string::npos)
        throw std::runtime_error("trace line without " + key);
    at += tag.size();
    if (line[at] == '"') {
        size_t end = line.find('"', at + 1);
        return line.substr(at + 1, end - at - 1);
    }
    size_t end = line.find_first_of(",}", at);
    return line.substr(at, end - at);
}

} // namespace

std::vector<TracedChunk> LoadTrace(const std::string& name)
{
    std::string path = std::string(GATEWAY_SOURCE_DIR) + "/tests/data/opcua/trace_" + name + ".jsonl";
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open trace " + name);
    std::vector<TracedChunk> chunks;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        TracedChunk c;
        c.connection = std::stoi(Field(line, "conn"));
        c.fromClient = Field(line, "dir") == "C>S";
        c.bytes = FromHex(Field(line, "hex"));
        chunks.push_back(std::move(c));
    }
    return chunks;
}

std::vector<std::string> TraceNames() { return {"anon", "b", "bad", "c", "d", "e", "user"}; }

} // namespace tagserve::test

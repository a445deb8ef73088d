#pragma once
// A fresh directory per test for the configuration files.

#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

namespace gw::test {

class ConfigDirTest : public ::testing::Test {
protected:
    void Put(const std::string& name, const std::string& bytes) const { temp.Write(name, bytes); }
    std::string Get(const std::string& name) const { return temp.Read(name); }
    // Nothing but the named files: no temporary file left behind.
    std::size_t FileCount() const
    {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
    }

    TempDir temp;
    std::filesystem::path dir{temp.path()};
};

} // namespace gw::test

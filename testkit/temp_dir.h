#pragma once
// A fresh directory under the system's temporary folder, removed with all
// its contents when the object goes.

#include <string>
#include <string_view>

namespace gw::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path()/name
    std::string File(std::string_view name) const;

    void Write(std::string_view name, std::string_view content) const;
    std::string Read(std::string_view name) const;

private:
    std::string path_;
};

} // namespace gw::test

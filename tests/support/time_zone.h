#pragma once
// The process's time zone set to a named zone for a test's scope, and back.

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace gw::test {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& zone)
    {
        if (const char* old = std::getenv("TZ"))
            saved_ = old;
        ::setenv("TZ", zone.c_str(), 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (saved_)
            ::setenv("TZ", saved_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    // The C library takes an unknown zone for UTC without a word: a test of
    // offsets needs to know that the zone's rules are installed (tzdata).
    static bool Installed(const std::string& zone) { return std::filesystem::exists("/usr/share/zoneinfo/" + zone); }

private:
    std::optional<std::string> saved_;
};

} // namespace gw::test

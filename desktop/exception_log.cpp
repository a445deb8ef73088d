#include "desktop/exception_log.h"

#include "core/cp1251.h"
#include "desktop/texts.h"

#include <cstdio>
#include <ctime>
#include <cxxabi.h>
#include <fcntl.h>
#include <memory>
#include <typeinfo>
#include <unistd.h>

namespace gw::desktop {

void AppendLineToFile(const std::string& line, const std::string& path)
{
    const std::string bytes = Utf8ToCp1251(line) + "\r\n";
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write per line: lines of concurrent writers never interleave.
    static_cast<void>(::write(fd, bytes.data(), bytes.size()));
    ::close(fd);
}

std::string ExceptionLogLine(const std::string& message, const std::string& className)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%d.%m.%Y %H:%M:%S", &local);
    return std::string(stamp) + ": " + message + texts::ClassNameSeparator + className;
}

std::string ExceptionClassName(const std::exception& e)
{
    const char* mangled = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(mangled);
}

void LogCurrentException(const std::string& dir)
{
    const std::string path = dir.empty() ? std::string(texts::ErrorLogFile) : dir + "/" + texts::ErrorLogFile;
    try {
        throw;
    } catch (const std::exception& e) {
        AppendLineToFile(ExceptionLogLine(e.what(), ExceptionClassName(e)), path);
    } catch (...) {
        AppendLineToFile(ExceptionLogLine("unknown exception", "unknown"), path);
    }
}

bool Guarded(const std::string& dir, const std::function<void()>& fn)
{
    try {
        fn();
        return true;
    } catch (...) {
        LogCurrentException(dir);
    }
    return false;
}

} // namespace gw::desktop
